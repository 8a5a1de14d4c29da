#pragma once
// The language helper's fixed tables: right-to-left languages, the supported
// base languages with the languages mapped onto them, and Windows' three-letter
// language abbreviations.

#include <windows.h>

namespace LangUtils {

bool IsRightToLeftLanguage(LANGID language);

// The supported base language of language; false if it has none.
bool FindBaseLanguage(LANGID language, LANGID& base);

// The language of a Windows abbreviation, compared without case; 0 if unknown.
LANGID FindLanguageOfAbbreviation(const wchar_t* abbreviation);

}  // namespace LangUtils
