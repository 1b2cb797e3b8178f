/* pagerip -merge out.pdf in.pdf...: every page of the inputs, in their order, gathered into
 * one PDF. Each page is copied with the objects it uses, so it keeps its size, its drawing
 * and its resources. The result appears under out.pdf only when whole. */
#ifndef PAGERIP_MERGE_H
#define PAGERIP_MERGE_H

/* The merge mode's main, given the whole command line (argv[1] is "-merge"). Returns 0 when
 * out.pdf holds every page, 1 after printing "pagerip: cannot merge into <out>: <reason>",
 * 2 for a usage error. */
int merge_main(int argc, char **argv);

#endif
