#pragma once
// The C library's numeric locale for the length of a test, and a locale
// whose decimal symbol is a comma for machines that have none installed.
#include <clocale>

namespace skyvane::testing {

class NumericLocale {
public:
    explicit NumericLocale(const char* name) : ok_(std::setlocale(LC_NUMERIC, name) != nullptr) {}
    ~NumericLocale() { std::setlocale(LC_NUMERIC, "C"); }
    NumericLocale(const NumericLocale&) = delete;
    NumericLocale& operator=(const NumericLocale&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_;
};

// True when "de_DE.UTF-8" can be set. A machine without it gets it compiled
// once by localedef into the build tree (never the user's home), and LOCPATH
// points there for the rest of the test program.
bool haveCommaLocale();

} // namespace skyvane::testing
