#pragma once

#include <string>

#include "app/version_record.h"

// The program's build string from its product version, read afresh at every call:
//   fourth component not 0          -> "<second> Beta <fourth>"
//   fourth 0, third not 0           -> "<second>.<third>.0" (dotted form; its third
//                                      number is the fourth component, always 0 here)
//   fourth 0, third 0               -> "<second>"
// The first component never shows. A missing record counts as 0.0.0.0, giving "0".
std::string GetBuildString(IVersionRecord& record);
