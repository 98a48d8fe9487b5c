#include "manifest/store_line.hpp"

#include <algorithm>

namespace {

constexpr std::string_view kScheme = "http://";

bool IsWordByte(char c) { return c > ' ' && c < 0x7F; }

bool IsStoreUrl(std::string_view url) {
  if (url.size() > kStoreUrlLimit || !url.starts_with(kScheme) || url.ends_with('/')) return false;
  if (!std::all_of(url.begin(), url.end(), [](char c) { return IsWordByte(c) && c != '?' && c != '#'; })) return false;
  // The host part: not empty, and no user information, which a transfer would send as credentials.
  const std::string_view rest = url.substr(kScheme.size());
  const std::string_view authority = rest.substr(0, rest.find('/'));
  return !authority.empty() && authority.find('@') == std::string_view::npos;
}

}  // namespace

std::optional<StoreLine> ParseStoreValue(std::string_view value) {
  StoreLine store;
  std::size_t at = value.find(' ');
  store.url = value.substr(0, at);
  if (!IsStoreUrl(store.url)) return std::nullopt;
  while (at != std::string_view::npos) {
    const std::size_t wordAt = at + 1;
    at = value.find(' ', wordAt);
    const std::string_view word = value.substr(wordAt, at == std::string_view::npos ? at : at - wordAt);
    if (word.empty() || !std::all_of(word.begin(), word.end(), IsWordByte)) return std::nullopt;
    store.features.emplace_back(word);
  }
  return store;
}

std::optional<std::string> UnknownStoreFeature(const StoreLine& store, std::span<const std::string_view> known) {
  for (const std::string& feature : store.features)
    if (std::find(known.begin(), known.end(), feature) == known.end()) return feature;
  return std::nullopt;
}

std::string StoreValue(const StoreLine& store) {
  std::string value = store.url;
  for (const std::string& feature : store.features) value.append(" ").append(feature);
  return value;
}
