#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "vantor/core/netbuf.h"
#include "vantor/services/digest.h"

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

// File name -> hexadecimal digest, from a coreutils listing ("<hex>  <name>" per line).
std::map<std::string, std::string> read_listing(const std::string& name)
{
    std::map<std::string, std::string> out;
    std::istringstream lines(read_data(name));
    std::string hex;
    std::string file;
    while (lines >> hex >> file) {
        out[file] = hex;
    }
    return out;
}

std::string hex_of(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Feeds the input in pieces of growing odd sizes, so that pieces straddle the digests' blocks.
std::string digest_in_pieces(xstd::crypto_hash_common& digest, const std::string& input)
{
    std::size_t at = 0;
    for (std::size_t piece = 1; at < input.size(); piece = piece * 3 + 1) {
        std::size_t n = std::min(piece, input.size() - at);
        digest.update(input.data() + at, n);
        at += n;
    }
    return digest.final();
}

TEST(digest, matches_coreutils)
{
    struct algorithm {
        const char* listing;
        std::unique_ptr<xstd::crypto_hash_common> digest;
        std::size_t size;
    };
    algorithm algorithms[] = {
        {"digest_md5.txt", std::make_unique<xstd::md5>(), 16},
        {"digest_sha256.txt", std::make_unique<xstd::sha256>(), 32},
        {"digest_sha512.txt", std::make_unique<xstd::sha512>(), 64},
    };
    for (algorithm& a : algorithms) {
        std::map<std::string, std::string> expected = read_listing(a.listing);
        ASSERT_EQ(expected.size(), 4u) << a.listing;
        for (const auto& [file, hex] : expected) {
            SCOPED_TRACE(std::string(a.listing) + " " + file);
            std::string input = read_data(file);
            a.digest->update(input.data(), input.size());
            std::string whole = a.digest->final();
            EXPECT_EQ(whole.size(), a.size);
            EXPECT_EQ(hex_of(whole), hex);
            // final starts a new digest, so the object is reused without a reset.
            EXPECT_EQ(hex_of(digest_in_pieces(*a.digest, input)), hex);
        }
    }
}

TEST(digest, reset_drops_what_was_fed)
{
    xstd::sha512 digest;
    digest.update("junk", 4);
    digest.reset();
    EXPECT_EQ(hex_of(digest.final()),
              "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
              "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e");
    EXPECT_EQ(hex_of(xstd::md5_digest("abc")), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(digest, walks_every_chunk_of_a_buffer)
{
    if (netbuf::table().create == nullptr) {
        netbuf::install_local_table();
    }
    std::string input = read_data("digest_bytes.bin");
    std::map<std::string, std::string> md5 = read_listing("digest_md5.txt");
    std::map<std::string, std::string> sha256 = read_listing("digest_sha256.txt");
    // Chunks of uneven sizes, shared into one buffer without being joined.
    netbuf buffer;
    for (std::size_t at = 0, n = 1; at < input.size(); at += n, n = n * 2 + 1) {
        netbuf part = netbuf::construct_from_bytes(input.data() + at, std::min(n, input.size() - at));
        buffer.append_shared(part);
    }
    EXPECT_EQ(hex_of(xstd::md5_digest_netbuf(buffer)), md5["digest_bytes.bin"]);
    xstd::sha256 digest;
    digest.update_netbuf(buffer);
    EXPECT_EQ(hex_of(digest.final()), sha256["digest_bytes.bin"]);
    EXPECT_EQ(buffer.size(), input.size()) << "the buffer stays as it was";
    EXPECT_EQ(hex_of(xstd::md5_digest_netbuf(netbuf())), md5["digest_empty.bin"]);
}

}  // namespace
