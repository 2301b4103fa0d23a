#pragma once
// Filter settings that choose by extension only: sizes and names off, the prompts where the
// settings window would show them.
#include <string>

#include "search/filter_settings.h"

namespace quelvane::testing {

inline FilterSettings Settings(std::string extensions) {
  FilterSettings s;
  s.ExtensionList = std::move(extensions);
  s.SizeFilterMode = kFilterOff;
  s.SizeComparison = kChoosePrompt;
  s.SizeUnit = kUnitPrompt;
  s.NameFilterMode = kFilterOff;
  return s;
}

}  // namespace quelvane::testing
