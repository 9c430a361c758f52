// The show source of an opened show: the options and slide list read from its
// project document, kept with the show's locator.
#pragma once

#include <string>

namespace orb {

class TOrbShowLocator;
class TOrbSource;

// The show source over the locator's project, made on the first request with
// the player's own file name (a ".scr" name plays the show as a screen saver)
// and kept by the locator. Raises EOrbSourceError when the project describes
// no playable show.
TOrbSource& ShowSource(TOrbShowLocator& show);
TOrbSource& ShowSource(TOrbShowLocator& show, const std::u16string& programFileName);

}  // namespace orb
