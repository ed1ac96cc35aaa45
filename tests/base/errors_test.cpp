#include "base/errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora {
namespace {

TEST(QuoteToken, CutsLongTokensAfterSixtyCharacters) {
  struct Case {
    std::string token, quoted;
  };
  const std::string sixty(60, 'a');
  const std::vector<Case> cases = {
      {"", ""},
      {"1,5", "1,5"},
      {sixty, sixty},
      {sixty + "b", sixty + "..."},
      {std::string(10 * 1000 * 1000, 'c'), std::string(60, 'c') + "..."},
      // a two-byte character across the cut is left out whole
      {std::string(59, 'a') + "\xC3\xA4" + "b", std::string(59, 'a') + "..."},
  };
  for (const Case& c : cases) EXPECT_EQ(QuoteToken(c.token), c.quoted) << c.token.size();
}

}  // namespace
}  // namespace lumora
