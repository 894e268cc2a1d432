/* The small-answer load client, in plain C: a fresh connection per request, the request made
 * once, one receive buffer on the stack, nothing allocated per request, so the client costs a
 * small part of what the server does for an answer (the C++ loadgen's "small" mode costs about as
 * much as the servers, and then measures itself).
 *
 *   smallload PORT PATH CLIENTS SECONDS
 *
 * Prints one line of key=value figures as loadgen does (cpu_us: its own processor time, all
 * threads); exit status 1 when a request failed. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kMaxSamples = 1 << 20 };

struct Client {
  pthread_t thread;
  int port;
  const char* request;
  size_t requestSize;
  double until;
  double* latencies; /* seconds */
  size_t done;
  size_t failures;
  uint64_t bytes;
};

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* One request on a fresh connection: 1 when a 200 with its whole body came. */
static int Fetch(struct Client* c) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 0;
  struct sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons((uint16_t)c->port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int ok = 0;
  if (connect(s, (struct sockaddr*)&a, sizeof a) != 0 ||
      send(s, c->request, c->requestSize, MSG_NOSIGNAL) != (ssize_t)c->requestSize) {
    close(s);
    return 0;
  }
  char buffer[16384];
  size_t have = 0;
  long long length = -1;
  size_t headEnd = 0;
  for (;;) {
    if (have == sizeof buffer) break; /* a head this large is not a small answer */
    ssize_t n = recv(s, buffer + have, sizeof buffer - have, 0);
    if (n <= 0) break;
    have += (size_t)n;
    if (headEnd == 0) {
      char* end = memmem(buffer, have, "\r\n\r\n", 4);
      if (!end) continue;
      headEnd = (size_t)(end - buffer) + 4;
      if (have < 12 || memcmp(buffer + 9, "200", 3) != 0) break;
      for (char* p = buffer; p < end; ++p) {
        if (*p == '\n' && strncasecmp(p + 1, "Content-Length:", 15) == 0) {
          length = atoll(p + 16);
          break;
        }
      }
    }
    if (length >= 0 && have - headEnd >= (size_t)length) {
      ok = have - headEnd == (size_t)length;
      c->bytes += (uint64_t)length;
      break;
    }
  }
  close(s);
  return ok;
}

static void* Run(void* arg) {
  struct Client* c = arg;
  while (Now() < c->until && c->done < kMaxSamples) {
    const double t0 = Now();
    if (Fetch(c)) {
      c->latencies[c->done++] = Now() - t0;
    } else if (++c->failures > 1000) {
      break;
    }
  }
  return NULL;
}

/* The process's processor time so far, user and system, all threads. */
static long long CpuMicroseconds(void) {
  struct rusage u;
  if (getrusage(RUSAGE_SELF, &u) != 0) return -1;
  return (long long)(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000 + u.ru_utime.tv_usec +
         u.ru_stime.tv_usec;
}

static int Compare(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

static double Percentile(const double* v, size_t n, double p) {
  if (n == 0) return 0;
  size_t i = (size_t)(p * (double)(n - 1) + 0.5);
  return v[i < n ? i : n - 1];
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: smallload PORT PATH CLIENTS SECONDS\n");
    return 2;
  }
  const int port = atoi(argv[1]);
  const int clients = atoi(argv[3]);
  const double seconds = atof(argv[4]);
  if (clients < 1 || seconds <= 0) return 2;
  char request[2048];
  const int size = snprintf(request, sizeof request,
                            "GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
                            argv[2]);
  if (size <= 0 || (size_t)size >= sizeof request) return 2;
  struct Client* all = calloc((size_t)clients, sizeof *all);
  const double start = Now();
  for (int i = 0; i < clients; ++i) {
    all[i].port = port;
    all[i].request = request;
    all[i].requestSize = (size_t)size;
    all[i].until = start + seconds;
    all[i].latencies = malloc(sizeof(double) * kMaxSamples);
    if (!all[i].latencies || pthread_create(&all[i].thread, NULL, Run, &all[i]) != 0) return 2;
  }
  size_t done = 0, failures = 0;
  uint64_t bytes = 0;
  for (int i = 0; i < clients; ++i) {
    pthread_join(all[i].thread, NULL);
    done += all[i].done;
    failures += all[i].failures;
    bytes += all[i].bytes;
  }
  const double elapsed = Now() - start;
  double* latencies = malloc(sizeof(double) * (done ? done : 1));
  size_t at = 0;
  for (int i = 0; i < clients; ++i) {
    memcpy(latencies + at, all[i].latencies, sizeof(double) * all[i].done);
    at += all[i].done;
  }
  qsort(latencies, done, sizeof(double), Compare);
  printf("mode=small clients=%d seconds=%.2f requests=%zu failures=%zu rps=%.1f mbps=%.1f "
         "p50_ms=%.3f p99_ms=%.3f cpu_us=%lld\n",
         clients, elapsed, done, failures, (double)done / elapsed, (double)bytes / elapsed / 1e6,
         Percentile(latencies, done, 0.50) * 1000, Percentile(latencies, done, 0.99) * 1000,
         CpuMicroseconds());
  return failures == 0 && done > 0 ? 0 : 1;
}
