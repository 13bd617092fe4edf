// Decoding time of the worst inputs the limits allow: the figures behind the claim that every
// decoder finishes hostile input in well under 100 ms. Run build/<dir>/foundation/decode_benchmark.

#include <benchmark/benchmark.h>

#include <string>

#include "foundation/keyed_archive.h"
#include "foundation/property_list.h"

namespace hv {
namespace {

void putBigEndian(std::string& out, uint64_t v, size_t width) {
    for (size_t i = width; i-- > 0;) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// "bplist00", the objects, a 4-byte offset table and the trailer.
std::string bplist(const std::vector<std::string>& objects, size_t refSize, uint64_t top) {
    std::string out = "bplist00";
    std::vector<uint64_t> offsets;
    for (const std::string& o : objects) {
        offsets.push_back(out.size());
        out += o;
    }
    const uint64_t table = out.size();
    for (uint64_t o : offsets) putBigEndian(out, o, 4);
    out.append(6, '\0');
    out += '\x04';
    out += static_cast<char>(refSize);
    putBigEndian(out, objects.size(), 8);
    putBigEndian(out, top, 8);
    putBigEndian(out, table, 8);
    return out;
}

void run(benchmark::State& state, const std::string& input, DecodeResult (*decode)(std::string_view, const DecodeLimits&)) {
    for (auto _ : state) benchmark::DoNotOptimize(decode(input, DecodeLimits{}));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

// 100,000 one-byte references to one object: the most entries the limit allows.
void BM_BinaryWidestArray(benchmark::State& state) {
    std::string array = "\xAF\x12";
    putBigEndian(array, 99999, 4);
    array.append(99999, '\x01');
    run(state, bplist({array, "\x09"}, 1, 0), readBinaryPropertyList);
}

// Arrays that each hold the previous one twice, 64 deep: 2^64 leaves if copied.
void BM_BinaryExponential(benchmark::State& state) {
    std::vector<std::string> objects{"\x10\x01"};
    for (int i = 1; i < 64; ++i) objects.push_back(std::string("\xA2") + char(i - 1) + char(i - 1));
    run(state, bplist(objects, 1, 63), readBinaryPropertyList);
}

// Nearly 1 MiB of UTF-16 text.
void BM_BinaryLargeString(benchmark::State& state) {
    std::string s = "\x6F\x12";
    putBigEndian(s, 500000, 4);
    for (int i = 0; i < 500000; ++i) s.append("\x00\xE9", 2);
    run(state, bplist({s}, 1, 0), readBinaryPropertyList);
}

// 10,000 nested arrays, refused at the 65th.
void BM_BinaryDeep(benchmark::State& state) {
    std::vector<std::string> objects;
    for (int i = 0; i < 10000; ++i) {
        std::string o = "\xA1";
        putBigEndian(o, i + 1, 2);
        objects.push_back(o);
    }
    objects.push_back("\x09");
    run(state, bplist(objects, 2, 0), readBinaryPropertyList);
}

// Nearly 1 MiB of XML elements, refused after 100,000.
void BM_XmlManyElements(benchmark::State& state) {
    std::string xml = "<array>";
    while (xml.size() < (1 << 20) - 16) xml += "<true/>";
    xml += "</array>";
    run(state, xml, readXmlPropertyList);
}

// Nearly 1 MiB of string text full of references.
void BM_XmlEntities(benchmark::State& state) {
    std::string xml = "<string>";
    while (xml.size() < (1 << 20) - 16) xml += "&amp;&#x263A;x";
    xml += "</string>";
    run(state, xml, readXmlPropertyList);
}

// An archive of 30,000 distinct strings in one array.
void BM_KeyedLargeArchive(benchmark::State& state) {
    Array items;
    for (int i = 0; i < 30000; ++i) items.emplace_back("item " + std::to_string(i));
    run(state, *keyedArchive(Value(std::move(items))), keyedUnarchive);
}

BENCHMARK(BM_BinaryWidestArray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryExponential)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryLargeString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryDeep)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlManyElements)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlEntities)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyedLargeArchive)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hv

BENCHMARK_MAIN();
