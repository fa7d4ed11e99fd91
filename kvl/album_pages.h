/*
 * album_pages.h - the pages of a derivation, as Album::derive() receives
 * them.  PUBLIC HEADER (with kvl/kvl.h).
 *
 * Album::derive() waits until the set is whole, as it always has; the set
 * comes in pages all the same (qx_mis: 1,000 members a page, or
 * QX_KVL_PAGE_SIZE, 1 to 10,000; each page is sent once the client has read
 * the last ones; a directory: each of its paged results, 500 entries, as
 * the server sends it, and no "of" unless the server estimates one), and
 * the time-out runs from the last page, so a large set that keeps coming
 * never times out.  While it waits, a tracked album's OBJECT_CREATED and
 * OBJECT_DESTROYED of objects made or deleted meanwhile reach it, neither
 * lost nor doubled: a page never names a member the set holds already, nor
 * one deleted since its page came.
 *
 * A page callback sees each page during the wait (the event-loop rule of
 * kvl.h holds: any callback may run between two pages).  Returning false
 * stops the derivation: derive() returns false with KVL_ERR_STOPPED, and the
 * album holds the members of the pages seen (and what the events did to
 * them) and keeps its subscription.  On any other failure the album keeps
 * its previous set.
 *
 *     bool show(void* data, const AlbumPage& page)
 *     {
 *         for (AlbumImage ai = page.first; ai; ai.next_image()) add_row(ai->get_objname());
 *         return !user_pressed_stop;
 *     }
 *     set_page_callback(album, show, nullptr);
 *     album.derive(timeout);                 // waits; show runs for each page
 */
#ifndef KVL_ALBUM_PAGES_H
#define KVL_ALBUM_PAGES_H

#include "kvl/kvl.h"

/* The error type of a derivation a page callback stopped (after KVL_ERR_SERVER). */
enum { KVL_ERR_STOPPED = KVL_ERR_SERVER + 1 };

/* One page of a derivation.  first iterates over the members it adds to the
 * set (a member the set held already, or one deleted since, is left out);
 * the album itself keeps its previous set until derive() returns.  received
 * counts the set so far, this page's members included; of is the size of
 * the set when the derivation began, as the server counted it (0 when it did
 * not); done marks the last page. */
struct AlbumPage {
    AlbumImage first;
    long received = 0;
    long of = 0;
    bool done = false;
};

/* A count that grows whenever a member leaves the set a derivation of album
 * is filling (a deletion reported during the wait), and else stays: a caller
 * holding members of earlier pages need look none of them up again while it
 * is unchanged.  0 for an album that was never derived. */
unsigned long album_removals(const Album& album);

/* A page callback: false stops the derivation after this page. */
typedef bool (*AlbumPageProc)(void* client_data, const AlbumPage& page);

/* Sets the page callback of album's derive() (proc null: none).  Shared by
 * the handles of the same album. */
void set_page_callback(Album& album, AlbumPageProc proc, void* client_data);

#endif /* KVL_ALBUM_PAGES_H */
