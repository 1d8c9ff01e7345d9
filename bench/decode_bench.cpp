// Decoding the kit of a 65,535-byte image: our block decoder against the C library's
// fscanf("%2X") loop, each opening and reading the same file on every iteration.
// Usage: bench_decode KIT_FILE [benchmark options]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "image/decode_kit_text.h"

namespace {

std::string kitPath;
std::string kitText;  // the same file, in memory
ImageBuffer image;
ImageBuffer reference;

// The formatted-input loop: one "%2X" conversion a byte while one number is converted.
uint16_t decodeWithFscanf(std::FILE* file, ImageBuffer& out) {
    out.count = 0;
    unsigned value;
    while (out.count < kImageMaxBytes && std::fscanf(file, "%2X", &value) == 1) {
        out.bytes[out.count++] = static_cast<uint8_t>(value);
    }
    return out.count;
}

std::FILE* openKit(benchmark::State& state) {
    std::FILE* file = std::fopen(kitPath.c_str(), "rb");
    if (file == nullptr) state.SkipWithError("cannot open the kit file");
    return file;
}

void checkAgainstReference(benchmark::State& state) {
    if (image.count != reference.count ||
        std::memcmp(image.bytes, reference.bytes, reference.count) != 0) {
        state.SkipWithError("decoded bytes differ from the fscanf loop's");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kitText.size()));
    state.counters["image_bytes"] = image.count;
}

void BM_DecodeKitFile(benchmark::State& state) {
    for (auto _ : state) {
        std::FILE* file = openKit(state);
        if (file == nullptr) return;
        benchmark::DoNotOptimize(decodeKitFile(file, image));
        std::fclose(file);
        benchmark::ClobberMemory();
    }
    checkAgainstReference(state);
}

void BM_FscanfHexLoop(benchmark::State& state) {
    for (auto _ : state) {
        std::FILE* file = openKit(state);
        if (file == nullptr) return;
        benchmark::DoNotOptimize(decodeWithFscanf(file, image));
        std::fclose(file);
        benchmark::ClobberMemory();
    }
    checkAgainstReference(state);
}

// The decoder alone, with the text already in memory: what the file reading costs besides.
void BM_KitDecoderInMemory(benchmark::State& state) {
    for (auto _ : state) {
        KitDecoder decoder;
        kitDecoderStart(decoder, image);
        kitDecoderFeed(decoder, image, kitText.data(), kitText.size());
        benchmark::DoNotOptimize(kitDecoderFinish(decoder, image));
        benchmark::ClobberMemory();
    }
    checkAgainstReference(state);
}

BENCHMARK(BM_DecodeKitFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FscanfHexLoop)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KitDecoderInMemory)->Unit(benchmark::kMicrosecond);

bool loadKit(const char* path) {
    kitPath = path;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    char block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) kitText.append(block, got);
    std::rewind(file);
    decodeWithFscanf(file, reference);
    std::fclose(file);
    return reference.count > 0;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc != 2 || !loadKit(argv[1])) {
        std::fprintf(stderr, "usage: bench_decode KIT_FILE [benchmark options]\n");
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
