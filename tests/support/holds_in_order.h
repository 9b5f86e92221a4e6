// Test support: whether a text holds each of some parts in order, each
// after the end of the one before (other text may lie between them).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline testing::AssertionResult HoldsInOrder(const std::string& text, const std::vector<std::string>& parts) {
  size_t at = 0;
  for (const std::string& part : parts) {
    const size_t found = text.find(part, at);
    if (found == std::string::npos) return testing::AssertionFailure() << "no \"" << part << "\" after offset " << at;
    at = found + part.size();
  }
  return testing::AssertionSuccess();
}
