#pragma once

#include <istream>
#include <map>
#include <string>

namespace ostraksim {

struct Runner {
    int bib = 0;
    std::string lastName;
    std::string firstName;
    std::string groupA;  // sex group, "M..." or "F..."
    std::string groupB;  // category
    std::string club;
};

struct RunnerList {
    std::map<int, Runner> byBib;
    std::string error;  // "NAME:LINE: reason" when the list could not be read
};

// Lines "BIB;LASTNAME;FIRSTNAME[;GROUPA[;GROUPB[;CLUB]]]"; fields beyond the sixth are ignored.
RunnerList ReadRunners(std::istream& in, const std::string& name);
RunnerList LoadRunners(const std::string& path);

// The runner a bib stands for when every bib counts (--any-bib).
Runner NamedAfterBib(int bib);

}  // namespace ostraksim
