// Stream throughput: line reading of a settings-like file (one Read per byte), bulk writes
// to a file stream as the PNG writer makes them, typed writes into memory, and UTF-8
// console encoding into memory.
#include <benchmark/benchmark.h>

#include <unistd.h>  // for getpid: bench files of parallel runs stay apart

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/text.h"
#include "stream/bank.h"
#include "stream/console.h"
#include "stream/stream.h"

namespace {

const std::string kLineFile = "/tmp/stream_bench_lines_" + std::to_string(getpid()) + ".txt";
const std::string kWriteFile = "/tmp/stream_bench_write_" + std::to_string(getpid()) + ".bin";

void MakeLineFile(int lines) {
  FILE* file = fopen(kLineFile.c_str(), "wb");
  for (int i = 0; i < lines; ++i) fprintf(file, "Sprite Width %d = %d\r\n", i, i * 3);
  fclose(file);
}

void BM_ReadLinesFromFile(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  MakeLineFile(lines);
  int64_t bytes = 0;
  for (auto _ : state) {
    Ref<TStream> stream = OpenFileForReading(TextFromUtf8(kLineFile));
    int count = 0;
    while (!stream->Eof()) {
      benchmark::DoNotOptimize(stream->ReadLine());
      ++count;
    }
    bytes += stream->Size();
    stream->Close();
    if (count != lines) state.SkipWithError("wrong line count");
  }
  state.SetBytesProcessed(bytes);
  remove(kLineFile.c_str());
}
BENCHMARK(BM_ReadLinesFromFile)->Arg(500)->Arg(20000);

void BM_WriteBytesToFile(benchmark::State& state) {
  const int64_t chunk = state.range(0);
  const int64_t total = 4 << 20;
  std::vector<uint8_t> buffer(static_cast<size_t>(chunk), 0x5A);
  for (auto _ : state) {
    Ref<TStream> stream = OpenUrlForWriting(TextFromUtf8(kWriteFile));
    for (int64_t done = 0; done < total; done += chunk) stream->WriteBytes(buffer.data(), chunk);
    stream->Close();
  }
  state.SetBytesProcessed(state.iterations() * total);
  remove(kWriteFile.c_str());
}
BENCHMARK(BM_WriteBytesToFile)->Arg(64)->Arg(8192);

void BM_TypedWritesToMemory(benchmark::State& state) {
  for (auto _ : state) {
    auto stream = TBankStream::Create(TBank::Create(0));
    for (int i = 0; i < 10000; ++i) {
      stream->WriteInt(i);
      stream->WriteFloat(static_cast<float>(i));
    }
    benchmark::DoNotOptimize(stream->Size());
  }
  state.SetBytesProcessed(state.iterations() * 10000 * 8);
}
BENCHMARK(BM_TypedWritesToMemory);

void BM_Utf8TextLines(benchmark::State& state) {
  String line = u"Found ini file ";
  line += String{char16_t(233), char16_t(8364), char16_t(0x4E2D)};
  for (auto _ : state) {
    auto memory = TBankStream::Create(TBank::Create(0));
    auto text = TTextStream::Create(memory, TTextStream::UTF8);
    for (int i = 0; i < 1000; ++i) text->WriteLine(line);
    benchmark::DoNotOptimize(memory->Size());
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_Utf8TextLines);

}  // namespace

BENCHMARK_MAIN();
