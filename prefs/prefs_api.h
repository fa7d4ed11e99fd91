/*
 * prefs_api.h - what the rest of the editor may use of the preferences.
 * PUBLIC HEADER for app/ (wiring) and tests.
 *
 * The preferences rebuild the tree from a new default node.  While they wait
 * for the server the display of raw server events is switched off; app/ owns
 * that switch and hands it over with set_raw_events_hook at start-up.
 */
#ifndef PREFS_PREFS_API_H
#define PREFS_PREFS_API_H

/* Splits "FDN" or "FDN:OC:class": user_object_class takes the class ("" when
 * none), user_object_name the FDN part, which is also returned (text itself
 * when there is no ":OC:"; else a copy that lives until the next call). */
char* strip_objclass(char* text);

/* The switch of raw-event display (app/connection.h setup_raw_events). */
void set_raw_events_hook(void (*hook)(bool on));

/* True while a rebuild of the tree from the preferences waits for the server. */
bool rebuild_waiting();

#endif /* PREFS_PREFS_API_H */
