/*
 * mnemonic.h - the mnemonic a menu entry or button gets from its label, so
 * that a translated label still has one it shows.  PUBLIC HEADER.
 *
 * The windows name each entry's mnemonic in English ('F' for File); a
 * catalogue's label may lack that letter ("Datei").  Motif then underlines
 * nothing, and the key opens nothing the user can see.
 */
#ifndef CORE_MNEMONIC_H
#define CORE_MNEMONIC_H

#include <string>

/*
 * The mnemonic for label: preferred when the label has it and no sibling
 * has it (in the case the label has it, so the letter is underlined), else
 * the label's first ASCII letter or digit that no sibling has; preferred
 * again when every one is taken, and 0 for a preferred of 0.  taken holds
 * the siblings' mnemonics; case is ignored in comparing.
 */
char choose_mnemonic(const std::string& label, char preferred, const std::string& taken);

#endif /* CORE_MNEMONIC_H */
