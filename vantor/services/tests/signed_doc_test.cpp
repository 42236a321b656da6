#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "vantor/core/log.h"
#include "vantor/core/netbuf.h"
#include "vantor/services/base64.h"
#include "vantor/services/digest.h"
#include "vantor/services/element.h"
#include "vantor/services/json.h"
#include "vantor/services/signed_doc.h"

namespace {

// The fixture folder beside this source; under Wine the Unix root is drive Z:.
std::string data_path(const std::string& name)
{
    std::string source = __FILE__;
    std::string folder = source.substr(0, source.find_last_of("/\\") + 1);
    return (folder.front() == '/' ? "Z:" + folder : folder) + "data/" + name;
}

std::string read_data(const std::string& name)
{
    std::ifstream in(data_path(name), std::ios::binary);
    EXPECT_TRUE(in.good()) << data_path(name);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string sha512_of(const std::string& text)
{
    xstd::sha512 digest;
    digest.update(text.data(), text.size());
    return digest.final();
}

// The openssl-made fixture: key blob, the digested text and the decoded signature.
struct signed_fixture {
    std::string key = read_data("signed_doc_key.bin");
    std::string text = read_data("signed_doc_text.json");
    std::string signature = decoded_signature();

    static std::string decoded_signature()
    {
        std::string document = read_data("signed_doc.json");
        const std::string member = "\"signature\": \"";
        std::size_t start = document.find(member) + member.size();
        std::string signature = document.substr(start, document.find('"', start) - start);
        xstd::base64::decode(signature);
        return signature;
    }
};

TEST(rsa_verify, accepts_the_signed_digest_and_nothing_else)
{
    signed_fixture f;
    ASSERT_EQ(f.key.size(), 519u);
    ASSERT_EQ(f.signature.size(), 512u);
    EXPECT_TRUE(xstd::rsa_verify_digest(f.key, f.signature, sha512_of(f.text)));

    std::string changed_text = f.text;
    changed_text[changed_text.find("Support agent") + 7] = '_';
    EXPECT_FALSE(xstd::rsa_verify_digest(f.key, f.signature, sha512_of(changed_text)));

    std::string changed_signature = f.signature;
    changed_signature[100] ^= 1;
    EXPECT_FALSE(xstd::rsa_verify_digest(f.key, changed_signature, sha512_of(f.text)));

    std::string changed_key = f.key;
    changed_key[300] ^= 1;
    EXPECT_FALSE(xstd::rsa_verify_digest(changed_key, f.signature, sha512_of(f.text)));

    // A digest that is a prefix of the signed one does not pass either.
    EXPECT_FALSE(xstd::rsa_verify_digest(f.key, f.signature, sha512_of(f.text).substr(0, 32)));
}

TEST(rsa_verify, refuses_bad_key_blobs_and_signature_lengths)
{
    signed_fixture f;
    std::string digest = sha512_of(f.text);
    // Bytes after the exponent are ignored.
    EXPECT_TRUE(xstd::rsa_verify_digest(f.key + "extra", f.signature, digest));

    struct row {
        const char* name;
        std::string blob;
    };
    const row rows[] = {
        {"empty", ""},
        {"one byte", f.key.substr(0, 1)},
        {"modulus cut", f.key.substr(0, 300)},
        {"no exponent", f.key.substr(0, 514)},
        {"exponent cut", f.key.substr(0, 518)},
        {"modulus length past the end", std::string("\xff\xff", 2) + f.key.substr(2)},
        {"empty modulus", std::string("\x00\x00\x00\x01\x03", 5)},
        {"even exponent", f.key.substr(0, 516) + std::string("\x01\x00\x02", 3)},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_FALSE(xstd::rsa_verify_digest(r.blob, f.signature, digest));
    }
    EXPECT_FALSE(xstd::rsa_verify_digest(f.key, f.signature.substr(1), digest));
    EXPECT_FALSE(xstd::rsa_verify_digest(f.key, f.signature + '\0', digest));
    EXPECT_FALSE(xstd::rsa_verify_digest(f.key, "", digest));
}

// Captures the log lines written while it lives.
struct log_capture {
    std::vector<std::string> lines;

    log_capture() { vantor::set_log_line_observer(&observe, this); }
    ~log_capture() { vantor::set_log_line_observer(nullptr, nullptr); }

    static void observe(const char* text, std::size_t length, void* context)
    {
        static_cast<log_capture*>(context)->lines.emplace_back(text, length);
    }
};

class json_verify_test : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (netbuf::table().create == nullptr) {
            netbuf::install_local_table();
        }
    }

    tarvojson::element signed_document()
    {
        tarvojson::element document;
        tarvojson::parse_text(document, read_data("signed_doc.json"));
        return document;
    }

    std::string key_ = read_data("signed_doc_key.bin");
};

TEST_F(json_verify_test, accepts_the_openssl_signed_document)
{
    log_capture log;
    tarvojson::element document = signed_document();
    EXPECT_TRUE(json_verify(document, key_));

    // The same members built in another order verify too: the digested text sorts them.
    tarvojson::element rebuilt;
    rebuilt.make_path("version").as_int64() = 7;
    rebuilt.make_path("files[0].size").as_int64() = 48128;
    rebuilt.make_path("files[0].name").as_string() = "agent.exe";
    rebuilt.make_path("title").as_string() = "Support agent";
    rebuilt.make_path("id").as_string() = "pkg-1";
    // A signature held as a byte block counts as its bytes.
    std::string signature = document.get_string("signature", "");
    rebuilt.make_path("signature").as_netbuf() = netbuf::construct_from_string(signature);
    EXPECT_TRUE(json_verify(rebuilt, key_));
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(json_verify_test, refuses_changed_documents)
{
    log_capture log;
    struct row {
        const char* name;
        void (*change)(tarvojson::element&);
    };
    const row rows[] = {
        {"one byte of a string", [](tarvojson::element& d) { d.make_path("id").as_string() = "pkg-2"; }},
        {"a blank inside a string",
         [](tarvojson::element& d) { d.make_path("title").as_string() = "Support  agent"; }},
        {"a number", [](tarvojson::element& d) { d.make_path("files[0].size").as_int64() = 48129; }},
        {"an added member", [](tarvojson::element& d) { d.make_path("extra").as_string() = "x"; }},
        {"a removed member", [](tarvojson::element& d) { d.erase_path("title"); }},
        {"one byte of the signature",
         [](tarvojson::element& d) {
             std::string& s = d.make_path("signature").as_string();
             s[10] = s[10] == 'A' ? 'B' : 'A';
         }},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        tarvojson::element document = signed_document();
        r.change(document);
        EXPECT_FALSE(json_verify(document, key_));
    }
    std::string short_key = key_.substr(0, 100);
    EXPECT_FALSE(json_verify(signed_document(), short_key));
    EXPECT_TRUE(log.lines.empty()) << "only a missing or unreadable signature is logged";
}

TEST_F(json_verify_test, logs_a_missing_or_unreadable_signature)
{
    struct row {
        const char* name;
        void (*change)(tarvojson::element&);
        bool logged;
    };
    const row rows[] = {
        {"no signature", [](tarvojson::element& d) { d.erase_path("signature"); }, true},
        {"empty", [](tarvojson::element& d) { d.make_path("signature").as_string().clear(); }, true},
        {"not Base64", [](tarvojson::element& d) { d.make_path("signature").as_string() = "ab!d"; }, true},
        {"cut Base64", [](tarvojson::element& d) { d.make_path("signature").as_string().resize(30); }, true},
        {"a number", [](tarvojson::element& d) { d.make_path("signature").as_int64() = 5; }, true},
        {"not an object", [](tarvojson::element& d) { d.as_array(); }, true},
        {"wrong length for the key",
         [](tarvojson::element& d) { d.make_path("signature").as_string() = "QUJD"; }, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        log_capture log;
        tarvojson::element document = signed_document();
        r.change(document);
        EXPECT_FALSE(json_verify(document, key_));
        std::vector<std::string> expected;
        if (r.logged) {
            expected.push_back("json_verify: missing signature or not base64");
        }
        EXPECT_EQ(log.lines, expected);
    }
}

}  // namespace
