#include <gtest/gtest.h>

#include "vantor/core/impersonation.h"
#include "vantor/core/module_path.h"
#include "vantor/core/string_utils.h"
#include "vantor/core/win_hkey.h"

namespace {

bool thread_has_token()
{
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        return false;
    }
    CloseHandle(token);
    return true;
}

// The test process is an elevated administrator, not LocalSystem: it keeps its own identity and
// holds its own token.
TEST(impersonation, ordinary_process_keeps_its_identity)
{
    EXPECT_FALSE(vantor::is_local_system());

    vantor::win_handle token;
    vantor::user_token::open(token);
    EXPECT_TRUE(token);

    {
        vantor::impersonation scope;
        EXPECT_TRUE(scope.has_token());
        EXPECT_FALSE(scope.impersonating());
        EXPECT_FALSE(thread_has_token());
    }
    EXPECT_FALSE(thread_has_token());
}

TEST(win_hkey, closes_the_key)
{
    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &raw), ERROR_SUCCESS);
    vantor::win_hkey key(raw);
    EXPECT_TRUE(key);
    EXPECT_EQ(key.close(), TRUE);
    EXPECT_FALSE(key);
    EXPECT_EQ(key.close(), FALSE);
}

TEST(module_path, names_the_module_holding_the_code)
{
    std::string path = vantor::module_path();
    EXPECT_TRUE(vantor::ends_with(vantor::to_lower_copy(path), "vantor_core_tests.exe")) << path;
}

}  // namespace
