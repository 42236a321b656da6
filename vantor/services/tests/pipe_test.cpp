#include "vantor/services/pipe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"
#include "vantor/services/pipe_frame.h"
#include "vantor/services/pipe_security.h"

namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

std::string header(std::int64_t length)
{
    std::string h = bytes({0xDE, 0xBA, 0xFE, 0xCA});
    for (int i = 0; i < 8; ++i) {
        h.push_back(static_cast<char>(static_cast<std::uint64_t>(length) >> (8 * i)));
    }
    return h;
}

class pipe_frame_test : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (netbuf::table().create == nullptr) {
            netbuf::install_local_table();
        }
    }
};

TEST(pipe_name, system_and_user_scope_paths)
{
    struct row {
        const char* name;
        bool user_scope;
        std::uint32_t session;
        const char* path;
    };
    const row rows[] = {
        {"x", false, 26, "\\\\?\\pipe\\ipc2_x"},
        {"x", true, 26, "\\\\?\\pipe\\ipc3_1a_x"},
        {"svc", true, 0, "\\\\?\\pipe\\ipc3_0_svc"},
        {"svc", true, 0x10000, "\\\\?\\pipe\\ipc3_10000_svc"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.path);
        EXPECT_EQ(vantor::ipc_pipe_name_in_session(r.name, r.user_scope, r.session), r.path);
    }
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_EQ(vantor::ipc_pipe_name("y", true), vantor::ipc_pipe_name_in_session("y", true, session));
    EXPECT_EQ(vantor::ipc_pipe_name("y", false), "\\\\?\\pipe\\ipc2_y");
}

TEST_F(pipe_frame_test, wrap_writes_the_header_before_the_body)
{
    netbuf body = netbuf::construct_from_string("abc");
    netbuf framed = vantor::ipc_frame::wrap(body);
    EXPECT_EQ(framed.to_string(), header(3) + "abc");
    EXPECT_EQ(body.to_string(), "abc");
}

TEST_F(pipe_frame_test, extract_takes_whole_messages_only)
{
    netbuf message;
    netbuf stream = netbuf::construct_from_string(header(0).substr(0, 11));
    EXPECT_FALSE(vantor::ipc_frame::extract(stream, message));
    EXPECT_EQ(stream.size(), 11u);

    stream = netbuf::construct_from_string(header(0));
    ASSERT_TRUE(vantor::ipc_frame::extract(stream, message));
    EXPECT_TRUE(message.is_empty());
    EXPECT_TRUE(stream.is_empty());

    stream = netbuf::construct_from_string(header(2) + "hi" + header(5) + "wor");
    ASSERT_TRUE(vantor::ipc_frame::extract(stream, message));
    EXPECT_EQ(message.to_string(), "hi");
    EXPECT_FALSE(vantor::ipc_frame::extract(stream, message));
    EXPECT_EQ(stream.to_string(), header(5) + "wor");
    stream.append_string("ld");
    ASSERT_TRUE(vantor::ipc_frame::extract(stream, message));
    EXPECT_EQ(message.to_string(), "world");
}

TEST_F(pipe_frame_test, bad_headers_are_refused_and_leave_the_stream)
{
    struct row {
        const char* label;
        std::string stream;
        std::string error;
    };
    std::string wrong_magic = header(1);
    wrong_magic[0] = 'X';
    const row rows[] = {
        {"wrong magic", wrong_magic + "a", ":Error in line 10"},
        {"negative length", header(-1) + "abc", "invalid frame length"},
        {"most negative length", header(INT64_MIN), "invalid frame length"},
        {"oversized length", header(vantor::ipc_frame_max_body + 1), "invalid frame length"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        netbuf stream = netbuf::construct_from_string(r.stream);
        netbuf message;
        try {
            vantor::ipc_frame::extract(stream, message);
            ADD_FAILURE() << "accepted";
        } catch (const vantor::exception& e) {
            EXPECT_EQ(std::string(e.what()), r.error);
        }
        EXPECT_EQ(stream.to_string(), r.stream);
    }
}

// The ACEs of the DACL on a pipe created with the endpoint security: {allowed, access, SID}.
struct ace_row {
    bool allowed;
    DWORD access;
    std::vector<std::uint8_t> sid;
};

std::vector<std::uint8_t> sid_of(WELL_KNOWN_SID_TYPE type)
{
    std::vector<std::uint8_t> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    EXPECT_TRUE(CreateWellKnownSid(type, nullptr, sid.data(), &size));
    sid.resize(size);
    return sid;
}

std::vector<ace_row> dacl_of_endpoint_pipe(bool user_scope, bool& dacl_present_and_not_null)
{
    vantor::pipe_security_attributes security(user_scope);
    std::string path =
        vantor::ipc_pipe_name("vantor_security_" + std::to_string(GetCurrentProcessId()), false);
    vantor::win_file_handle pipe = ipc_priv::init_ipc_server(path, security.get(), false);
    EXPECT_TRUE(pipe.valid());
    DWORD needed = 0;
    GetKernelObjectSecurity(pipe.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<std::uint8_t> descriptor(needed);
    EXPECT_TRUE(
        GetKernelObjectSecurity(pipe.get(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed));
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    EXPECT_TRUE(GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &defaulted));
    dacl_present_and_not_null = present && acl != nullptr;
    std::vector<ace_row> rows;
    for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        EXPECT_TRUE(GetAce(acl, i, &ace));
        auto* h = static_cast<ACE_HEADER*>(ace);
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        auto* sid = reinterpret_cast<std::uint8_t*>(&allowed->SidStart);
        rows.push_back({h->AceType == ACCESS_ALLOWED_ACE_TYPE, allowed->Mask,
                        std::vector<std::uint8_t>(sid, sid + GetLengthSid(sid))});
    }
    return rows;
}

TEST(pipe_security, system_scope_admits_local_authenticated_users_without_instance_creation)
{
    bool not_null = false;
    std::vector<ace_row> aces = dacl_of_endpoint_pipe(false, not_null);
    ASSERT_TRUE(not_null);
    ASSERT_EQ(aces.size(), 5u);
    EXPECT_FALSE(aces[0].allowed);
    EXPECT_EQ(aces[0].sid, sid_of(WinNetworkSid));
    EXPECT_EQ(aces[1].sid, sid_of(WinLocalSystemSid));
    EXPECT_EQ(aces[2].sid, sid_of(WinBuiltinAdministratorsSid));
    EXPECT_TRUE(aces[3].allowed);
    EXPECT_EQ(aces[3].sid, sid_of(WinAuthenticatedUserSid));
    EXPECT_EQ(aces[3].access & FILE_CREATE_PIPE_INSTANCE, 0u);
    EXPECT_EQ(aces[3].access & (FILE_READ_DATA | FILE_WRITE_DATA), DWORD(FILE_READ_DATA | FILE_WRITE_DATA));
    EXPECT_EQ(aces[4].sid, vantor::process_user_sid());
    for (const ace_row& ace : aces) {
        EXPECT_NE(ace.sid, sid_of(WinWorldSid));
        EXPECT_NE(ace.sid, sid_of(WinAnonymousSid));
    }
}

TEST(pipe_security, user_scope_admits_only_the_owning_user)
{
    bool not_null = false;
    std::vector<ace_row> aces = dacl_of_endpoint_pipe(true, not_null);
    ASSERT_TRUE(not_null);
    ASSERT_EQ(aces.size(), 2u);
    EXPECT_FALSE(aces[0].allowed);
    EXPECT_EQ(aces[0].sid, sid_of(WinNetworkSid));
    EXPECT_TRUE(aces[1].allowed);
    EXPECT_EQ(aces[1].sid, vantor::process_user_sid());
}

}  // namespace
