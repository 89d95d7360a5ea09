// Runs part of a test where Blowfish is missing the way it goes missing on a
// real machine: OpenSSL cannot find its legacy provider's module. The part
// runs in a fresh copy of the test program (a death test of the "threadsafe"
// style re-runs the program), started with OPENSSL_MODULES pointing at a
// folder that does not exist; the cipher set-up of this process is untouched.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__) && __has_include(<sanitizer/lsan_interface.h>)
#include <sanitizer/lsan_interface.h>
#define KV_NOBF_LSAN 1
#endif

#include "foundation/kv_string.h"

namespace kvtest {

// The copy's first use of the cipher, which must fail. OpenSSL leaks a little
// of a provider that fails to load; that set-up is kept out of the leak check.
inline bool cipher_missing()
{
#ifdef KV_NOBF_LSAN
    __lsan_disable();
#endif
    bool ok = true;
    KV_String("x").encrypt_bf("k", nullptr, &ok);
#ifdef KV_NOBF_LSAN
    __lsan_enable();
#endif
    return !ok;
}

// Calls `body` in the copy; an assertion that fails there makes the copy end
// with a non-zero status, which fails the calling test with the failure's
// text. A fatal assertion ends only `body`.
inline void without_blowfish(const std::function<void()>& body)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* had = std::getenv("OPENSSL_MODULES");
    const std::string saved = had ? had : "";
    ::setenv("OPENSSL_MODULES", "/nonexistent/kivrel-test-ossl-modules", 1);
    // The copy reports no test events of its own: its failures are collected
    // and written to standard error, which the calling test shows when the
    // copy fails.
    EXPECT_EXIT(
        {
            ::testing::TestPartResultArray failures;
            {
                ::testing::ScopedFakeTestPartResultReporter collect(
                    ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &failures);
                if (cipher_missing())
                    body();
                else
                    ADD_FAILURE() << "Blowfish is still there";
            }
            for (int i = 0; i < failures.size(); ++i) {
                const ::testing::TestPartResult& r = failures.GetTestPartResult(i);
                std::fprintf(stderr, "%s:%d: %s\n", r.file_name() ? r.file_name() : "?",
                             r.line_number(), r.message());
            }
            std::exit(failures.size() == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    if (had)
        ::setenv("OPENSSL_MODULES", saved.c_str(), 1);
    else
        ::unsetenv("OPENSSL_MODULES");
}

} // namespace kvtest
