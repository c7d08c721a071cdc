// Thread hooks run newest first on attach and detach, and unregister once.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "CommonThreadInit.h"
#include "LogCapture.h"

namespace {

std::string g_calls;

void init_a(void *) { g_calls += "+a"; }
void init_b(void *) { g_calls += "+b"; }
void clean(void *data) { g_calls += std::string("-") + static_cast<const char *>(data); }

}  // namespace

TEST(ThreadInitTest, HooksRunNewestFirstAndUnregisterOnce) {
  TestPool pool;
  ASSERT_EQ(thread_init_module(pool), 0);
  ThreadHook *a = nullptr;
  ThreadHook *b = nullptr;
  ASSERT_EQ(thread_hooks_register(init_a, clean, const_cast<char *>("a"), &a), 0);
  ASSERT_EQ(thread_hooks_register(init_b, clean, const_cast<char *>("b"), &b), 0);
  g_calls.clear();
  std::thread worker([] {
    thread_attach();
    thread_detach();
  });
  worker.join();
  EXPECT_EQ(g_calls, "+b+a-b-a");
  EXPECT_EQ(thread_hooks_unregister(b), 0);
  EXPECT_EQ(thread_hooks_unregister(b), APR_EGENERAL);
  g_calls.clear();
  thread_terminate_module();
  EXPECT_EQ(g_calls, "-a");
  EXPECT_EQ(thread_hooks_unregister(a), 0);
}
