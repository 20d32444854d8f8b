// Memory banks and the stream over them. Keeps no module state.
#include "stream/bank.h"

#include <algorithm>  // for std::clamp, std::min
#include <cstring>    // for std::memcpy

Ref<TBank> TBank::Create(int64_t size) {
  auto bank = std::make_shared<TBank>();
  bank->Resize(size);
  return bank;
}

void TBank::Resize(int64_t size) { _buf.resize(static_cast<size_t>(size < 0 ? 0 : size)); }

int64_t TBankStream::Pos() { return _pos; }
int64_t TBankStream::Size() { return _bank->Size(); }

// Note: positions outside the bank are clamped to it, like a file seek cannot go before 0.
int64_t TBankStream::Seek(int64_t position) {
  _pos = std::clamp<int64_t>(position, 0, _bank->Size());
  return _pos;
}

int64_t TBankStream::Read(void* buffer, int64_t count) {
  int64_t n = std::min(count, _bank->Size() - _pos);
  if (n <= 0) return 0;
  std::memcpy(buffer, _bank->Lock() + _pos, static_cast<size_t>(n));
  _pos += n;
  return n;
}

int64_t TBankStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (_pos + count > _bank->Size()) _bank->Resize(_pos + count);
  std::memcpy(_bank->Lock() + _pos, buffer, static_cast<size_t>(count));
  _pos += count;
  return count;
}

Ref<TBankStream> TBankStream::Create(Ref<TBank> bank) {
  if (!bank) return nullptr;
  auto stream = std::make_shared<TBankStream>();
  stream->_bank = std::move(bank);
  return stream;
}
