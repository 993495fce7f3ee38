#include "relay/derived_message_id.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

namespace quillport {
namespace {

// 64-bit FNV-1a: enough to tell apart the few files that could share an
// inode number over time; not meant to withstand a deliberate collision,
// which only someone who can write the drop folder could attempt.
class Fnv1a64 {
 public:
  void Add(std::string_view bytes) {
    for (const char c : bytes) {
      hash_ ^= static_cast<unsigned char>(c);
      hash_ *= 0x100000001b3ULL;
    }
  }
  void Add(std::uint64_t number) {
    for (int shift = 0; shift < 64; shift += 8) {
      const char byte = static_cast<char>((number >> shift) & 0xff);
      Add(std::string_view(&byte, 1));
    }
  }
  std::uint64_t value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

std::uint64_t Nanoseconds(const struct statx_timestamp& time) {
  return static_cast<std::uint64_t>(time.tv_sec) * 1000000000ULL + time.tv_nsec;
}

}  // namespace

std::string DerivedMessageId(const QueuedFile& file, std::string_view header_block) {
  struct statx status {};
  const unsigned wanted = STATX_INO | STATX_SIZE | STATX_MTIME | STATX_BTIME;
  std::uint64_t inode = file.identity().inode;
  Fnv1a64 hash;
  hash.Add(header_block);
  hash.Add(file.size());
  if (::statx(file.descriptor(), "", AT_EMPTY_PATH, wanted, &status) == 0) {
    inode = status.stx_ino;
    hash.Add(Nanoseconds(status.stx_mtime));
    // Not every file system records when a file was made.
    hash.Add((status.stx_mask & STATX_BTIME) != 0 ? Nanoseconds(status.stx_btime) : 0);
  }
  hash.Add(inode);
  char id[80];
  std::snprintf(id, sizeof id, "<qp.%016llx.%llx@quillport.invalid>", static_cast<unsigned long long>(hash.value()),
                static_cast<unsigned long long>(inode));
  return id;
}

}  // namespace quillport
