/* Installed fonts (through fontconfig) for fonts that a PDF names but does not embed. */
#ifndef PAGERIP_SYSFONTS_H
#define PAGERIP_SYSFONTS_H

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

/* Lets the library ask for installed fonts: by name, and for CJK text by script. */
void install_system_fonts(fz_context *ctx);

/* Gives back what the font lookups hold, once the library's fonts are dropped. */
void release_system_fonts(void);

/* Before a page is drawn: a CID font that is not embedded and whose character collection
 * is not a CJK one takes the collection its CMap names, or, when only the font itself could
 * map its characters and it is not installed, placeholder boxes: never other glyphs. */
void mend_cid_fonts(fz_context *ctx, pdf_page *page);

#endif
