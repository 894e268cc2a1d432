// Times the "/parserlink" cut, start + "(.*?)" + end over pages of about a megabyte, and the
// searches that once ran for seconds, with our matcher and three reference engines on the same
// input in the same run: PCRE2 JIT-compiled and interpreted (default match limits) and the
// standard library's std::regex (ECMAScript). Prints microseconds per search.
//
// Fairness: our "." (s on by default) crosses line breaks; PCRE2 gets PCRE2_DOTALL for the same
// meaning; std::regex has no such flag, so its patterns use "[\s\S]" in place of ".", which
// matches the same bytes. Every engine compiles once outside the timing and searches from the
// page's first byte; the group lengths are cross-checked. std::regex runs in a child process
// with a time limit, since it takes minutes on some rows.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "regex/pattern.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kPageSize = 1 << 20;
constexpr int kReferenceSeconds = 10;  // a reference engine's limit per row

// ---- page shapes ----

// Markup pieces (the page of the earlier runs of this bench), with or without CR LF.
std::string TagPage(bool lineBreaks) {
  std::mt19937 rng(42);
  const char* pieces[] = {"<div class=\"item\">", "</div>", "<a href=\"/film/", "\">", "</a>",
                          "text ", "more words ", "\r\n", "<span>", "</span>", "12345 "};
  std::string page;
  while (page.size() < kPageSize) {
    const char* piece = pieces[rng() % 11];
    if (lineBreaks || piece[0] != '\r') page += piece;
  }
  return page;
}

std::string Word(std::mt19937& rng) {
  static const char* latin[] = {"film", "online", "watch", "series", "new", "hd", "season"};
  if (rng() % 3 == 0) return latin[rng() % 7];
  std::string w;  // Windows-1251 Cyrillic lower case
  for (unsigned n = 3 + rng() % 7; n > 0; --n) w += static_cast<char>(0xE0 + rng() % 32);
  return w;
}

// A film catalogue as sites serve it: cards of nested tags with quoted attributes, Cyrillic
// text, indentation and LF line breaks (or none: minified).
std::string HtmlPage(bool lineBreaks) {
  std::mt19937 rng(7);
  const std::string nl = lineBreaks ? "\n" : "";
  auto indent = [&](int n) { return lineBreaks ? std::string(2 * n, ' ') : std::string(); };
  std::string page = "<!DOCTYPE html>" + nl + "<html lang=\"ru\">" + nl + "<head>" + nl +
                     indent(1) + "<meta charset=\"windows-1251\">" + nl + indent(1) +
                     "<link rel=\"stylesheet\" href=\"/css/main.css?v=3\">" + nl + "</head>" + nl +
                     "<body>" + nl;
  while (page.size() < kPageSize) {
    std::string id = std::to_string(10000 + rng() % 90000);
    std::string title = Word(rng) + " " + Word(rng);
    page += indent(1) + "<div class=\"card\" data-id=\"" + id + "\">" + nl + indent(2) +
            "<a class=\"card__link\" href=\"/film/" + id + "-" + Word(rng) + ".html\" title=\"" +
            title + "\">" + nl + indent(3) + "<img src=\"/posters/" + id +
            ".jpg\" alt=\"" + title + "\" loading=\"lazy\">" + nl + indent(2) + "</a>" + nl +
            indent(2) + "<span class=\"card__year\">" + std::to_string(1990 + rng() % 35) +
            "</span>" + nl + indent(2) + "<p class=\"card__text\">";
    for (unsigned n = 5 + rng() % 20; n > 0; --n) page += Word(rng) + " ";
    page += "</p>" + nl + indent(1) + "</div>" + nl;
  }
  return page;
}

// ---- engines ----

struct Result {
  double us = -1;    // median microseconds per search; -1 when not run
  long length = -3;  // length of the reported group; -1 no match, -2 error or limit, -3 not run
  bool timedOut = false;
};

// Processor time of this process (all its threads), in microseconds: on a machine shared with
// other work, the time each engine computes, without the time it waited for a processor.
double CpuMicroseconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Median processor microseconds of repeated runs within about a second (one run when it takes
// longer).
Result Time(const std::function<long()>& run) {
  std::vector<double> us;
  Result r;
  auto begin = Clock::now();
  auto enough = [&] {
    auto spent = Clock::now() - begin;
    if (spent > std::chrono::seconds(1)) return !us.empty() && (us.size() >= 3 || spent > std::chrono::seconds(2));
    return us.size() >= 200;
  };
  while (!enough()) {
    double t = CpuMicroseconds();
    r.length = run();
    us.push_back(CpuMicroseconds() - t);
  }
  std::sort(us.begin(), us.end());
  r.us = us[us.size() / 2];
  return r;
}

Result Ours(const std::string& pattern, const std::string& page, int group) {
  tovi::TPattern ours;
  ours.SetInputString(page);
  ours.SetExpression(pattern);
  return Time([&]() -> long {
    try {
      return ours.Exec() ? static_cast<long>(ours.GroupLength(group)) : -1;
    } catch (const tovi::EPattern&) {
      return -2;
    }
  });
}

Result Pcre(const std::string& pattern, const std::string& page, int group, bool jit) {
  int error;
  PCRE2_SIZE offset;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), pattern.size(),
                                   PCRE2_DOTALL, &error, &offset, nullptr);
  if (code == nullptr) return Result{-1, -2, false};
  if (jit && pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) jit = false;
  pcre2_match_data* match = pcre2_match_data_create_from_pattern(code, nullptr);
  Result r = Time([&]() -> long {
    int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(page.data()), page.size(), 0,
                         jit ? 0 : PCRE2_NO_JIT, match, nullptr);
    if (rc == PCRE2_ERROR_NOMATCH) return -1;
    if (rc < 0) return -2;
    PCRE2_SIZE* v = pcre2_get_ovector_pointer(match);
    return static_cast<long>(v[2 * group + 1] - v[2 * group]);
  });
  pcre2_match_data_free(match);
  pcre2_code_free(code);
  return r;
}

// std::regex recurses per byte: it runs on a thread with a stack large enough for a megabyte.
long StdRegexOnBigStack(const std::regex& re, const std::string& page, int group) {
  struct Job {
    const std::regex* re;
    const std::string* page;
    int group;
    long result;
  } job{&re, &page, group, -2};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, std::size_t{4} << 30);
  pthread_t thread;
  auto body = [](void* arg) -> void* {
    Job* j = static_cast<Job*>(arg);
    try {
      std::smatch m;
      j->result = std::regex_search(*j->page, m, *j->re) ? static_cast<long>(m.length(j->group)) : -1;
    } catch (const std::exception&) {
      j->result = -2;
    }
    return nullptr;
  };
  if (pthread_create(&thread, &attr, body, &job) != 0) return -2;
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  return job.result;
}

// Runs a reference engine in a child process, which is killed by its id after
// kReferenceSeconds: some rows take the reference engines minutes.
Result InChild(const std::function<Result()>& measure) {
  int fds[2];
  if (pipe(fds) != 0) return Result{};
  std::fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    Result r = measure();
    ssize_t written = write(fds[1], &r, sizeof r);
    _exit(written == sizeof r ? 0 : 1);
  }
  close(fds[1]);
  Result r;
  pollfd p{fds[0], POLLIN, 0};
  if (poll(&p, 1, kReferenceSeconds * 1000) == 1 && read(fds[0], &r, sizeof r) == sizeof r) {
    waitpid(child, nullptr, 0);
  } else {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    r = Result{};
    r.timedOut = true;
  }
  close(fds[0]);
  return r;
}

Result StdRegex(const std::string& pattern, std::regex::flag_type flags, const std::string& page,
                int group) {
  return InChild([&] {
    std::regex re(pattern, flags);
    return Time([&] { return StdRegexOnBigStack(re, page, group); });
  });
}

// ---- scenarios ----

struct Scenario {
  std::string shape, name;
  std::string page;
  std::string pattern;    // ours and PCRE2
  std::string reference;  // std::regex
  std::regex::flag_type referenceFlags = std::regex::ECMAScript;
  int group = 1;
};

// start + "(.*?)" + end in the three placements: the end near the page's end, nowhere, and both
// markers near the end.
void AddCuts(std::vector<Scenario>& out, const std::string& shape, const std::string& body,
             const std::string& start, const std::string& end) {
  const std::string pattern = start + "(.*?)" + end;
  const std::string reference = start + "([\\s\\S]*?)" + end;
  const std::string head = body.substr(0, 200), rest = body.substr(200);
  out.push_back({shape, "end near the end", head + start + rest + end + "\n", pattern, reference});
  out.push_back({shape, "end not found", head + start + rest, pattern, reference});
  out.push_back({shape, "both near the end", body + start + "The film" + end + "\n", pattern, reference});
}

std::string EscapeForRegex(const std::string& marker) {
  std::string s;
  for (char c : marker) {
    if (std::string("{}[]()|.*+?^$\\").find(c) != std::string::npos) s += '\\';
    s += c;
  }
  return s;
}

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> out;
  const std::string tags = TagPage(true);
  // The three rows of the earlier runs, as they were.
  const std::string title = "<title>(.*?)<end-of-list>", titleRef = "<title>([\\s\\S]*?)<end-of-list>";
  out.push_back({"tags, CR LF", "end near the end", "<title>Film</title>\r\n" + tags + "<end-of-list>\r\n",
                 title, titleRef});
  out.push_back({"tags, CR LF", "end not found", "<title>Film</title>\r\n" + tags, title, titleRef});
  out.push_back({"tags, CR LF", "both near the end", tags + "<h1 id=\"name\">The film</h1>",
                 "<h1 id=\"name\">(.*?)</h1>", "<h1 id=\"name\">([\\s\\S]*?)</h1>"});
  const std::string rareStart = "{\"file\":\"", quoteEnd = "\",\"poster\"";
  AddCuts(out, "tags, CR LF", tags, EscapeForRegex(rareStart), quoteEnd);
  const std::string oneLine = TagPage(false);
  AddCuts(out, "tags, one line", oneLine, "<h1 id=\"name\">", "</h1>");
  AddCuts(out, "tags, one line", oneLine, EscapeForRegex(rareStart), quoteEnd);
  for (bool breaks : {true, false}) {
    const std::string html = HtmlPage(breaks), shape = breaks ? "HTML, LF" : "HTML, one line";
    AddCuts(out, shape, html, "<h1 class=\"film-title\">", "</h1>");
    AddCuts(out, shape, html, EscapeForRegex(rareStart), quoteEnd);
  }
  auto times = [](const std::string& text, int n) {
    std::string s;
    for (int k = 0; k < n; ++k) s += text;
    return s;
  };
  // The searches that once ran for seconds before ending in 1016.
  const std::string a4000 = std::string(4000, 'a');
  out.push_back({"y + 300 KB of x", "x(.*?)y", "y" + std::string(300000, 'x'), "x(.*?)y",
                 "x([\\s\\S]*?)y"});
  out.push_back({"</ul> + 60,000 <li>a", "<li>(.*?)</ul>", "</ul>" + times("<li>a", 60000),
                 "<li>(.*?)</ul>", "<li>([\\s\\S]*?)</ul>"});
  out.push_back({"q + 100 KB of a", "a[^z]*q", "q" + std::string(100000, 'a'), "a[^z]*q",
                 "a[^z]*q", std::regex::ECMAScript, 0});
  out.push_back({"8 KB of a", ".*(?i)a{4000}b", std::string(8192, 'a'), ".*(?i)" + a4000 + "b",
                 "[\\s\\S]*" + a4000 + "b", std::regex::ECMAScript | std::regex::icase, 0});
  out.push_back({"7 KB of a + cb", "(a*?)a*\\1b", std::string(7000, 'a') + "cb", "(a*?)a*\\1b",
                 "(a*?)a*\\1b"});
  out.push_back({"1.5 MB of a + c", "(a|b)*c", std::string(1'500'000, 'a') + "c", "(a|b)*c",
                 "(a|b)*c"});
  return out;
}

// Microseconds; "err" marks a search that ended in an error or a limit.
std::string Cell(const Result& r) {
  char text[32];
  if (r.timedOut) return "> " + std::to_string(kReferenceSeconds) + " s";
  if (r.us < 0) return "-";
  std::snprintf(text, sizeof text, "%s%.1f", r.length == -2 ? "err " : "", r.us);
  return text;
}

std::string Ratio(const Result& other, const Result& ours) {
  char text[32];
  if (other.us < 0 || ours.us <= 0) return "-";
  std::snprintf(text, sizeof text, "%.2fx", other.us / ours.us);
  return text;
}

}  // namespace

int main() {
  std::printf("processor microseconds per search (median); x: that engine's time over ours (above 1:\n"
              "ours is faster)\n");
  std::printf("group: length of group 1 (group 0 where the pattern has none), -1 no match, -2 error or\n"
              "limit; err: the search ended in an error or a limit after that time\n\n");
  std::printf("%-22s %-20s %13s %13s %7s %13s %7s %13s %8s\n", "page", "scenario", "ours",
              "PCRE2 JIT", "x", "PCRE2 int.", "x", "std::regex", "group");
  for (const Scenario& s : Scenarios()) {
    Result ours = Ours(s.pattern, s.page, s.group);
    Result jit = InChild([&] { return Pcre(s.pattern, s.page, s.group, true); });
    Result interpreted = InChild([&] { return Pcre(s.pattern, s.page, s.group, false); });
    Result reference = StdRegex(s.reference, s.referenceFlags, s.page, s.group);
    std::string agree;
    for (const Result* r : {&jit, &interpreted, &reference}) {
      if (r->length >= -1 && r->length != ours.length) agree = " (differs!)";
    }
    std::printf("%-22.22s %-20.20s %13s %13s %7s %13s %7s %13s %8ld%s\n", s.shape.c_str(),
                s.name.c_str(), Cell(ours).c_str(), Cell(jit).c_str(), Ratio(jit, ours).c_str(),
                Cell(interpreted).c_str(), Ratio(interpreted, ours).c_str(),
                Cell(reference).c_str(), ours.length, agree.c_str());
    std::fflush(stdout);
  }
  return 0;
}
