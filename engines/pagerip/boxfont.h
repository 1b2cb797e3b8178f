/* A tiny TrueType font whose every visible character is a hollow box: the stand-in for
 * CJK fonts that a PDF names but does not embed. */
#ifndef PAGERIP_BOXFONT_H
#define PAGERIP_BOXFONT_H

/* The font file; built on first use, valid for the life of the process. */
const unsigned char *box_font(int *len);

#endif
