#pragma once
// The one exception class of the table engine's handles. Every failure a caller can meet while
// opening, walking, reading, writing or saving a table or a query result arrives as an
// EDatabaseError (or a class derived from it) whose message is meant for the user as it stands,
// for example "Field 'Turkish' not found".

#include <stdexcept>
#include <string>

namespace kelvara {

class EDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace kelvara
