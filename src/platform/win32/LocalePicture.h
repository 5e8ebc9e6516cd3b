// The locale's date and time pictures of Windows ("d.M.yyyy.", "h:mm:ss tt")
// in the system's pattern letters. Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

// The first punctuation between the fields becomes `separator`, written as
// `separatorSymbol` ("/" for dates, ":" for times) wherever it stands;
// quoted text is copied as it stands; the era ("g") is left out.
std::string PatternFromPicture(std::wstring_view picture, char separatorSymbol, char& separator);

}  // namespace ormelin
