#include "cache/browser/HttpResponse.h"

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// "HTTP/x.y CODE reason": the three-digit code, or 0.
int StatusOf(std::string_view line) {
  if (!line.starts_with("HTTP/")) return 0;
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return 0;
  int code = 0;
  for (std::size_t i = space + 1; i < space + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    code = code * 10 + (line[i] - '0');
  }
  if (line.size() > space + 4 && line[space + 4] != ' ') return 0;
  return code;
}

// Builds the response from its lines; the first is the status line.
class ResponseBuilder {
 public:
  bool Line(std::string_view line) {
    if (first_) {
      first_ = false;
      response_.statusLine = std::string(Trim(line));
      response_.status = StatusOf(response_.statusLine);
      return response_.status != 0;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return true;  // not a field; passed over
    response_.fields.emplace_back(std::string(Trim(line.substr(0, colon))), std::string(Trim(line.substr(colon + 1))));
    return true;
  }
  std::optional<HttpResponse> Finish() {
    if (first_) return std::nullopt;
    return std::move(response_);
  }

 private:
  bool first_ = true;
  HttpResponse response_;
};

}  // namespace

const std::string* HttpResponse::Find(std::string_view name) const {
  for (const auto& [fieldName, value] : fields) {
    if (EqualsIgnoringCase(fieldName, name)) return &value;
  }
  return nullptr;
}

std::string HttpResponse::HeaderText() const {
  std::string text = statusLine + "\r\n";
  for (const auto& [name, value] : fields) text += name + ": " + value + "\r\n";
  return text + "\r\n";
}

std::optional<HttpResponse> ParseNulSeparatedHeaders(std::string_view block) {
  ResponseBuilder builder;
  while (!block.empty()) {
    const std::size_t end = block.find('\0');
    const std::string_view line = block.substr(0, end);
    if (line.empty()) break;  // the extra NUL that ends the block
    if (!builder.Line(line)) return std::nullopt;
    if (end == std::string_view::npos) break;
    block.remove_prefix(end + 1);
  }
  return builder.Finish();
}

std::optional<HttpResponse> ParseCrlfHeaders(std::string_view text) {
  ResponseBuilder builder;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    if (!builder.Line(line)) return std::nullopt;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return builder.Finish();
}

std::optional<std::uint64_t> ParseDecimal(std::string_view value) {
  value = Trim(value);
  if (value.empty() || value.size() > 19) return std::nullopt;
  std::uint64_t number = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return number;
}

std::optional<ContentRange> ParseContentRange(std::string_view value) {
  value = Trim(value);
  if (value.size() < 6 || !EqualsIgnoringCase(value.substr(0, 6), "bytes ")) return std::nullopt;
  value = Trim(value.substr(6));
  const std::size_t dash = value.find('-');
  const std::size_t slash = value.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return std::nullopt;
  const auto first = ParseDecimal(value.substr(0, dash));
  const auto last = ParseDecimal(value.substr(dash + 1, slash - dash - 1));
  if (!first || !last || *first > *last) return std::nullopt;
  ContentRange range{*first, *last, std::nullopt};
  const std::string_view total = Trim(value.substr(slash + 1));
  if (total != "*") {
    range.total = ParseDecimal(total);
    if (!range.total || range.last >= *range.total) return std::nullopt;
  }
  return range;
}

bool IsWholeResponse(const HttpResponse& response, std::uint64_t storedLength) {
  if (storedLength == 0) return false;
  const std::string* lengthField = response.Find("Content-Length");
  std::optional<std::uint64_t> contentLength;
  if (lengthField) {
    contentLength = ParseDecimal(*lengthField);
    if (!contentLength) return false;  // a length we cannot read proves nothing
  }
  if (response.status == 200) return !contentLength || *contentLength == storedLength;
  if (response.status == 206) {
    const std::string* rangeField = response.Find("Content-Range");
    const auto range = rangeField ? ParseContentRange(*rangeField) : std::nullopt;
    if (!range || !range->total || range->first != 0 || range->last + 1 != *range->total) return false;
    return *range->total == storedLength && (!contentLength || *contentLength == storedLength);
  }
  return false;
}

std::optional<std::uint64_t> AnnouncedResourceLength(const HttpResponse& response) {
  if (response.status == 206) {
    const std::string* rangeField = response.Find("Content-Range");
    const auto range = rangeField ? ParseContentRange(*rangeField) : std::nullopt;
    if (range && range->total && *range->total > 0) return range->total;
    return std::nullopt;
  }
  if (response.status == 200) {
    const std::string* lengthField = response.Find("Content-Length");
    const auto length = lengthField ? ParseDecimal(*lengthField) : std::nullopt;
    if (length && *length > 0) return length;
  }
  return std::nullopt;
}
