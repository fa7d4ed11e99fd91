/*
 * catalog.h - the editor's message catalogue "qx.cat".  PUBLIC HEADER.
 *
 * Every text the user sees is fetched through qx_text() with its built-in
 * default, so the editor still speaks when the catalogue is missing: before
 * initialize_gui() opens the catalogue, and whenever catopen() failed, the
 * descriptor is (nl_catd)-1 and catgets() hands back the default.
 *
 * Set 4 holds the program's own texts, set 6 the titles and button labels of
 * the standard message dialogs.  data/qx.msg is the catalogue source.
 *
 * A text used as a printf format ("%s: can't open display") must carry the
 * same conversions in the catalogue as in its default: the compiler checks the
 * arguments against the default (format_arg), and the catalogue is held to
 * it.  Texts without conversions are written with fputs or set as labels,
 * never passed as a format.
 */
#ifndef CORE_CATALOG_H
#define CORE_CATALOG_H

#include <nl_types.h>

enum {
    QX_SET_PROGRAM = 4, /* texts of the editor */
    QX_SET_DIALOG = 6   /* titles and labels of the message dialogs */
};

/* Descriptor of "qx.cat"; (nl_catd)-1 until initialize_gui() opens it. */
extern nl_catd catd;

/* The catalogue text set/num, or def when the catalogue lacks it. */
[[gnu::format_arg(3)]] inline const char* qx_text(int set, int num, const char* def)
{
    return catgets(catd, set, num, def);
}

/* Shorthand for the program's own texts (set 4). */
[[gnu::format_arg(2)]] inline const char* qx_msg(int num, const char* def)
{
    return catgets(catd, QX_SET_PROGRAM, num, def);
}

#endif /* CORE_CATALOG_H */
