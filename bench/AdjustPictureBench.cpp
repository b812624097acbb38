// AdjustPicture on a 1280x720 picture against memcpy of the same bytes.

#include "AdjustPicture.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

namespace {

qrv::TBitmap24 RandomPicture()
{
    qrv::TBitmap24 picture(1280, 720);
    std::mt19937 random(1);
    for (size_t i = 0; i < picture.SizeBytes(); ++i)
        picture.Bits()[i] = static_cast<uint8_t>(random());
    return picture;
}

void BM_Memcpy720p(benchmark::State& state)
{
    const auto source = RandomPicture();
    qrv::TBitmap24 target(1280, 720);
    for (auto _ : state) {
        std::memcpy(target.Bits(), source.Bits(), source.SizeBytes());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.SizeBytes()));
}

void BM_AdjustPicture720p(benchmark::State& state)
{
    auto picture = RandomPicture();
    for (auto _ : state) {
        qrv::AdjustPicture(picture, 50);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * picture.SizeBytes()));
}

} // namespace

BENCHMARK(BM_Memcpy720p);
BENCHMARK(BM_AdjustPicture720p);
BENCHMARK(BM_Memcpy720p);
BENCHMARK(BM_AdjustPicture720p);
BENCHMARK_MAIN();
