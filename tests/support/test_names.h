// Names parameterised test cases by their `name` field.
#pragma once

#include <string>

struct ByName {
  template <class Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};
