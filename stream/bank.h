// Memory banks: a resizable block of bytes and a seekable stream over it. OpenFileStream
// uses them to give a position to streams that have none; tests use them as memory streams.
// Depends on the stream core. Keeps no module state.
#pragma once

#include <cstdint>
#include <vector>

#include "stream/stream.h"

// A block of bytes in main memory.
class TBank : public Object {
 public:
  static Ref<TBank> Create(int64_t size);
  int64_t Size() const { return static_cast<int64_t>(_buf.size()); }
  void Resize(int64_t size);
  uint8_t* Lock() { return _buf.data(); }

  std::vector<uint8_t> _buf;
};

// A stream over a bank. Writing past the end grows the bank.
class TBankStream : public TStream {
 public:
  int64_t Pos() override;
  int64_t Size() override;
  int64_t Seek(int64_t position) override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  static Ref<TBankStream> Create(Ref<TBank> bank);

  int64_t _pos = 0;
  Ref<TBank> _bank;
};
