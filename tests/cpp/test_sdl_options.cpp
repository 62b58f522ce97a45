#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "sdl/descriptor.h"

using namespace lumivex;

namespace {

using Options = std::pair<std::optional<std::string_view>, std::optional<std::string_view>>;

std::vector<Options> options_of(const StateDescriptor& descriptor) {
  std::vector<Options> all;
  for (std::size_t i = 0; i < descriptor.variable_count(); ++i) {
    const VarDescriptor variable = descriptor.variable(i);
    all.emplace_back(variable.default_option, variable.display_option);
  }
  return all;
}

}  // namespace

// The options Python does not show, kept per variable through copies.
TEST(sdl_variable_options) {
  const std::string long_option(300, 'z');
  const auto descriptors = parse_state_descriptors(
      "STATEDESC A\n{\n"
      "VAR INT a DEFAULTOPTION=VAULT\n"
      "VAR INT b\n"
      "VAR BOOL c DISPLAYOPTION=hidden DEFAULTOPTION=x DISPLAYOPTION=red DEFAULTOPTION=\n"
      "VAR $Sub d DEFAULTOPTION=VAULT DISPLAYOPTION=hidden\n"
      "VAR FLOAT e DISPLAYOPTION=" +
      long_option +
      " DEFAULT=1\n"
      "}\n"
      "STATEDESC B\n{\nVAR INT f\n}\n");
  REQUIRE(descriptors.size() == 2);
  const std::vector<Options> expected = {
      {"VAULT", std::nullopt},      {std::nullopt, std::nullopt}, {"", "red"},
      {std::nullopt, std::nullopt},  // a nested descriptor keeps no options
      {std::nullopt, long_option},
  };
  const StateDescriptor& a = descriptors[0];
  CHECK(options_of(a) == expected);
  CHECK(*a.variable(4).default_value == "1");
  CHECK(options_of(descriptors[1]) == (std::vector<Options>{{std::nullopt, std::nullopt}}));

  StateDescriptor copy = a;
  CHECK(options_of(copy) == expected);
  StateDescriptor assigned = descriptors[1];
  assigned = copy;
  copy = descriptors[1];
  CHECK(options_of(assigned) == expected);
  const StateDescriptor moved = std::move(assigned);
  CHECK(options_of(moved) == expected);
}
