#include "cli/HarvestOptions.h"

#include <charconv>
#include <cstdio>

#include "base/NumberedError.h"
#include "harvest/TypedInput.h"

const std::string kHarvestUsage =
    "Usage: tavrin-harvest --dest DIR [options]\n"
    "Copies the pictures (and legacy videos) of the browser caches into DIR, as the window does.\n"
    "\n"
    "  --dest DIR        destination folder, created when missing (required)\n"
    "  --ext LIST        extensions, default \"" +
    std::string(kDefaultExtensionList) +
    "\"\n"
    "  --min-kb N        minimum size in kilobytes, 0 to 100000, default 25\n"
    "  --since WHEN      now, all, or a local time YYYY-MM-DDTHH:MM:SS: copy entries used after it\n"
    "                    (default: all for one pass, now with --watch)\n"
    "  --cache DIR       read this cache folder instead of finding the browsers' caches (repeatable)\n"
    "  --watch           a pass every --interval until interrupted or --passes are done\n"
    "  --interval MS     milliseconds between passes, default 6000\n"
    "  --passes N        stop after N passes\n"
    "  --list-caches     list the caches found (kind, folder, entries) and exit\n"
    "  --stats           after each pass, a JSON line of counts on stderr\n"
    "  --help            this text\n"
    "\n"
    "Prints the path of every file it copies, and on stderr one line for every pass that ends by an\n"
    "error (what failed, on which path, and why) and one for every entry a pass could not copy (a\n"
    "damaged entry, a name the destination refuses), said once: the pass goes on with the next\n"
    "entry, and the entry is tried again once it changes or a few passes later. Without --watch or\n"
    "--passes, a pass that ended by an error is run again at once while it made progress (a few\n"
    "times at most). SIGINT, SIGTERM and SIGHUP end it after the file being copied.\n"
    "\n"
    "Exit status: 0 when the passes ran and the last one ended well (or was interrupted), 1 when the\n"
    "destination cannot be created, 2 for bad usage or a --cache folder that cannot be read, 3 when\n"
    "the last pass ended by an error or left entries it could not copy.\n";

namespace {

bool ParseInteger(const std::string& text, std::int64_t low, std::int64_t high, std::int64_t& out) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) return false;
  out = value;
  return true;
}

}  // namespace

std::optional<DateValue> CaptureStartFor(const std::string& since) {
  if (since == "now") return DateValue::Now();
  // Before every entry a cache can hold: even a zero file time (1601) is later.
  if (since == "all") return DateValue::FromFields(100, 1, 1, 0, 0, 0);
  int y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(since.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
    return std::nullopt;
  try {
    return DateValue::FromFields(y, mo, d, h, mi, s);
  } catch (const NumberedError&) {
    return std::nullopt;
  }
}

ParsedOptions ParseHarvestOptions(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  HarvestOptions& o = parsed.options;
  auto fail = [&](std::string why) {
    parsed.error = std::move(why);
    return parsed;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    auto value = [&](std::string& out) {
      // "--dest --stats" forgot the folder: an option is never taken for a value.
      if (i + 1 >= arguments.size() || arguments[i + 1].rfind("--", 0) == 0) return false;
      out = arguments[++i];
      return true;
    };
    std::string v;
    std::int64_t n = 0;
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--watch") {
      o.watch = true;
    } else if (a == "--list-caches") {
      o.listCaches = true;
    } else if (a == "--stats") {
      o.stats = true;
    } else if (a == "--dest" || a == "--ext" || a == "--min-kb" || a == "--since" || a == "--cache" ||
               a == "--interval" || a == "--passes") {
      if (!value(v)) return fail(a + " needs a value");
      if (a == "--dest") {
        if (v.empty()) return fail("--dest needs a folder");
        o.destination = ExpandHomeFolder(v);
      } else if (a == "--ext") {
        o.extensions = ExpandExtensionItems(v);
      } else if (a == "--min-kb") {
        if (!ParseInteger(v, 0, 100000, n)) return fail("--min-kb takes a whole number from 0 to 100000");
        o.minimumKb = static_cast<std::int32_t>(n);
      } else if (a == "--since") {
        if (!CaptureStartFor(v)) return fail("--since takes now, all or YYYY-MM-DDTHH:MM:SS");
        o.since = v;
      } else if (a == "--cache") {
        o.caches.push_back(v);
      } else if (a == "--interval") {
        if (!ParseInteger(v, 1, 86'400'000, n)) return fail("--interval takes milliseconds from 1 to 86400000");
        o.intervalMs = n;
      } else {
        if (!ParseInteger(v, 1, INT64_MAX, n)) return fail("--passes takes a whole number of at least 1");
        o.passes = n;
      }
    } else {
      return fail("unknown argument: " + a);
    }
  }
  if (!o.help && !o.listCaches && o.destination.empty()) return fail("--dest DIR is required");
  if (o.since.empty()) o.since = o.watch ? "now" : "all";
  return parsed;
}
