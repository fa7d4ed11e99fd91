/*
 * text_wrap.h - breaks a message into lines of at most a given width, so a
 * dialog of one long line does not run past the screen.  PUBLIC HEADER.
 */
#ifndef CORE_TEXT_WRAP_H
#define CORE_TEXT_WRAP_H

#include <functional>
#include <string>

/* How wide a piece of text is, in any unit (pixels of a font, characters). */
typedef std::function<int(const std::string&)> TextWidth;

/*
 * text with each line broken so that width() of no line (its trailing blanks
 * left out) passes max_width.  Lines break after a blank, after a "," and
 * before a "/", so a distinguished name breaks between its RDNs; a word wider
 * than max_width on its own is cut between characters (never inside a UTF-8
 * sequence).  Only newlines are added: with them taken out the text is the
 * one given, and text that fits comes back as it was.
 */
std::string wrap_text(const std::string& text, int max_width, const TextWidth& width);

#endif /* CORE_TEXT_WRAP_H */
