/*
 * choices.h - the allowed values of attributes whose syntax is an
 * enumeration, which the configuration window offers in a drop-down beside
 * their fields.  Internal to config/.
 *
 * EVENT-LOOP RULE: learn_choices waits for the server (one syntax request
 * per attribute not asked about before); everything else never waits.
 */
#ifndef CONFIG_CHOICES_H
#define CONFIG_CHOICES_H

#include <Xm/Xm.h>

#include <string>
#include <vector>

#include "kvl/kvl.h"

/* The values of an enumeration's rule as the server writes it,
 * "locked | unlocked | shuttingDown"; none for any other rule (a range, a
 * text size, a single word). */
std::vector<std::string> enumeration_values(const char* rule);

/* Asks the server for the syntax of each attribute of names (full names)
 * that was not asked about before, and keeps its allowed values: one
 * attribute name means one syntax.  Waits. */
void learn_choices(const DUArray& names);

/* The allowed values of the attribute shown as name, as learnt; null when
 * its syntax is no enumeration or was not learnt.  Never waits. */
const std::vector<std::string>* choices_of(const char* name);

/* Adds to box (a form that holds field, the text field of a form row) an
 * arrow button at the field's right that drops down values; choosing one
 * puts it into the field as though typed. */
void add_drop_down(Widget box, Widget field, const std::vector<std::string>& values);

#endif /* CONFIG_CHOICES_H */
