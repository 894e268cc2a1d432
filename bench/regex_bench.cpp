// Times the "/parserlink" cut, start + "(.*?)" + end over a page of one megabyte, with our
// matcher and two reference engines on the same input: PCRE2 (interpreted and JIT) and the
// standard library's std::regex (ECMAScript). Prints microseconds per search and the ratio to ours.
//
// Fairness: the page holds CR LF line breaks, and our "." (s on by default) crosses them. PCRE2
// gets PCRE2_DOTALL for the same meaning; std::regex has no such flag, so its pattern uses
// "[\s\S]*?" in place of ".*?", which matches the same bytes. Every engine compiles once outside
// the timing and searches from the page's first byte; the group 1 lengths are cross-checked.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <pthread.h>

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

std::string Page(std::size_t size) {
  std::mt19937 rng(42);
  const char* pieces[] = {"<div class=\"item\">", "</div>", "<a href=\"/film/", "\">", "</a>",
                          "text ", "more words ", "\r\n", "<span>", "</span>", "12345 "};
  std::string page;
  while (page.size() < size) page += pieces[rng() % 11];
  return page;
}

// Median microseconds of repeated runs; a run returns group 1's length (-1: no match, -2: error).
double Time(const std::function<long()>& run, long* result) {
  std::vector<double> us;
  auto begin = Clock::now();
  while (us.size() < 3 || (us.size() < 200 && Clock::now() - begin < std::chrono::seconds(1))) {
    auto t = Clock::now();
    *result = run();
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
  }
  std::sort(us.begin(), us.end());
  return us[us.size() / 2];
}

struct Pcre {
  pcre2_code* code = nullptr;
  pcre2_match_data* match = nullptr;
  bool jit = false;
  Pcre(const std::string& pattern, bool useJit) : jit(useJit) {
    int error;
    PCRE2_SIZE offset;
    code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), pattern.size(), PCRE2_DOTALL,
                         &error, &offset, nullptr);
    if (jit && pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) jit = false;
    match = pcre2_match_data_create_from_pattern(code, nullptr);
  }
  ~Pcre() {
    pcre2_match_data_free(match);
    pcre2_code_free(code);
  }
  long Run(const std::string& page) {
    int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(page.data()), page.size(), 0,
                         jit ? 0 : PCRE2_NO_JIT, match, nullptr);
    if (rc == PCRE2_ERROR_NOMATCH) return -1;
    if (rc < 0) return -2;
    PCRE2_SIZE* v = pcre2_get_ovector_pointer(match);
    return static_cast<long>(v[3] - v[2]);
  }
};

// std::regex recurses per byte; it gets a thread with a stack large enough for a megabyte.
long StdRegexOnBigStack(const std::regex& re, const std::string& page) {
  struct Job {
    const std::regex* re;
    const std::string* page;
    long result;
  } job{&re, &page, -2};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, std::size_t{4} << 30);
  pthread_t thread;
  auto body = [](void* arg) -> void* {
    Job* j = static_cast<Job*>(arg);
    try {
      std::smatch m;
      j->result = std::regex_search(*j->page, m, *j->re) ? static_cast<long>(m.length(1)) : -1;
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

struct Scenario {
  const char* name;
  std::string page;
  std::string start, end;
};

}  // namespace

int main() {
  const std::size_t kPageSize = 1 << 20;
  std::string body = Page(kPageSize);
  std::vector<Scenario> scenarios = {
      {"end marker near the end", "<title>Film</title>\r\n" + body + "<end-of-list>\r\n",
       "<title>", "<end-of-list>"},
      {"end marker not found", "<title>Film</title>\r\n" + body, "<title>", "<end-of-list>"},
      {"start and end near the end", body + "<h1 id=\"name\">The film</h1>", "<h1 id=\"name\">",
       "</h1>"},
  };
  std::printf("page: %zu bytes with CR LF breaks; pattern: start + \"(.*?)\" + end\n\n",
              scenarios[0].page.size());
  std::printf("%-28s %-16s %14s %10s %10s\n", "scenario", "engine", "us/search", "vs ours", "group 1");
  for (const Scenario& s : scenarios) {
    const std::string pattern = s.start + "(.*?)" + s.end;
    struct Row {
      const char* engine;
      double us;
      long group;
    };
    std::vector<Row> rows;
    long group = 0;

    tovi::TPattern ours;
    ours.SetInputString(s.page);
    ours.SetExpression(pattern);
    double us = Time([&] { return ours.Exec() ? static_cast<long>(ours.GroupLength(1)) : -1L; }, &group);
    rows.push_back({"ours", us, group});

    Pcre interpreted(pattern, false);
    us = Time([&] { return interpreted.Run(s.page); }, &group);
    rows.push_back({"PCRE2 interp.", us, group});

    Pcre jit(pattern, true);
    us = Time([&] { return jit.Run(s.page); }, &group);
    rows.push_back({jit.jit ? "PCRE2 JIT" : "PCRE2 (no JIT)", us, group});

    std::regex re(s.start + "([\\s\\S]*?)" + s.end, std::regex::ECMAScript);
    us = Time([&] { return StdRegexOnBigStack(re, s.page); }, &group);
    rows.push_back({"std::regex", us, group});

    for (const Row& r : rows) {
      std::printf("%-28s %-16s %14.1f %9.2fx %10ld%s\n", s.name, r.engine, r.us, r.us / rows[0].us,
                  r.group, r.group == rows[0].group ? "" : "  (differs!)");
    }
    std::printf("\n");
  }
  std::printf("group 1: its length in bytes; -1 no match, -2 engine error or limit\n");
  return 0;
}
