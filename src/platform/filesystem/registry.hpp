#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The current user's table of component classes, where the library enters and
// removes itself. No administrator rights are needed: nothing outside the
// user's own settings is written.
//
// Contract: a class's entry is its values, in order; entering a class replaces
// its older entry whole and leaves other classes' entries as they were;
// removing a class that has no entry does nothing. Failures throw
// std::runtime_error naming what could not be read or written.
namespace kiv::fs {

using ClassValues = std::vector<std::pair<std::string, std::string>>;

void enterClass(std::string_view classId, const ClassValues& values);
void removeClass(std::string_view classId);

// The full path of the file this library (or the program it is linked into)
// was loaded from.
std::string thisModulePath();

}  // namespace kiv::fs
