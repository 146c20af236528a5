// Encrypts a plain data file (XML) into the program's encrypted form with the built-in key, or,
// with --decrypt, turns an encrypted file back into its plain form.
//
//   ambv_encrypt <plain file> <encrypted file>
//   ambv_encrypt --decrypt <encrypted file> <plain file>
//
// The output is written to a temporary file next to it and renamed over it.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "aircraft/data_crypto.h"

namespace fs = std::filesystem;

namespace {

bool readAll(const fs::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool writeAll(const fs::path& path, const void* data, std::size_t size) {
  const fs::path temp = path.string() + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out.flush()) return false;
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (ec) fs::remove(temp, ec);
  return !ec;
}

int usage() {
  std::fputs("usage: ambv_encrypt <plain file> <encrypted file>\n"
             "       ambv_encrypt --decrypt <encrypted file> <plain file>\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const bool decrypt = !args.empty() && args[0] == "--decrypt";
  const std::size_t first = decrypt ? 1 : 0;
  if (args.size() != first + 2) return usage();
  const fs::path input(args[first]);
  const fs::path output(args[first + 1]);

  std::string bytes;
  if (!readAll(input, bytes)) {
    std::fprintf(stderr, "ambv_encrypt: cannot read %s\n", input.string().c_str());
    return 1;
  }
  try {
    bool ok = false;
    if (decrypt) {
      const std::string plain = gf_streamDecrypt(
          std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), builtInDataKey());
      ok = writeAll(output, plain.data(), plain.size());
    } else {
      const std::vector<std::uint8_t> encrypted = gf_streamEncrypt(bytes, builtInDataKey());
      ok = writeAll(output, encrypted.data(), encrypted.size());
    }
    if (!ok) {
      std::fprintf(stderr, "ambv_encrypt: cannot write %s\n", output.string().c_str());
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ambv_encrypt: %s: %s\n", input.string().c_str(), e.what());
    return 1;
  }
  return 0;
}
