// Text of every leaf of a 41-field record, set and read back by path (the work of loading
// and saving a configuration record), and listing its leaf names.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tslib/structs.h"
#include "tslib/typed_mem.h"

namespace {

constexpr const char* kMtype = "bench";

struct Link {
    std::uint32_t Baud;
    std::uint8_t Parity;
    std::uint16_t Timeout;
};

constexpr StructsField kLinkFields[] = {
    structs_field("Baud", structs_type_uint32, offsetof(Link, Baud)),
    structs_field("Parity", structs_type_uint8, offsetof(Link, Parity)),
    structs_field("Timeout", structs_type_uint16, offsetof(Link, Timeout)),
    structs_field_end(),
};
constexpr StructsType kLink = structs_struct_type(sizeof(Link), kLinkFields);
constexpr StructsType kText32 = structs_fixedstring_type(32);
constexpr StructsType kId16 = structs_fixeddata_type(16);
constexpr StructsId kModes[] = {{"Off", 0, 1}, {"Scan", 1, 1}, {"Hold", 2, 1}, {nullptr, 0, 0}};
constexpr StructsType kMode = structs_id_type(1, kModes);

// 41 leaves: 38 fields here and 3 inside Comm.
struct Record {
    std::uint16_t U16[10];
    std::int32_t I32[5];
    float F[5];
    double D[3];
    std::uint8_t B[4];
    std::uint8_t Mode[2];
    char Text[4][32];
    char* Str[3];
    StructsBuffer Hex[1];
    std::uint8_t Id[16];
    Link Comm;
};

struct FieldSpec {
    const char* name;
    const StructsType* type;
    std::size_t offset;
    const char* text;
};

const FieldSpec kSpecs[] = {
    {"Rate0", &structs_type_uint16, offsetof(Record, U16[0]), "100"},
    {"Rate1", &structs_type_uint16, offsetof(Record, U16[1]), "200"},
    {"Rate2", &structs_type_uint16, offsetof(Record, U16[2]), "300"},
    {"Rate3", &structs_type_uint16, offsetof(Record, U16[3]), "400"},
    {"Rate4", &structs_type_uint16, offsetof(Record, U16[4]), "500"},
    {"Rate5", &structs_type_uint16, offsetof(Record, U16[5]), "600"},
    {"Rate6", &structs_type_uint16, offsetof(Record, U16[6]), "700"},
    {"Rate7", &structs_type_uint16, offsetof(Record, U16[7]), "800"},
    {"Rate8", &structs_type_uint16, offsetof(Record, U16[8]), "900"},
    {"Rate9", &structs_type_uint16, offsetof(Record, U16[9]), "1000"},
    {"Offset0", &structs_type_int32, offsetof(Record, I32[0]), "-1"},
    {"Offset1", &structs_type_int32, offsetof(Record, I32[1]), "-20"},
    {"Offset2", &structs_type_int32, offsetof(Record, I32[2]), "300"},
    {"Offset3", &structs_type_int32, offsetof(Record, I32[3]), "-4000"},
    {"Offset4", &structs_type_int32, offsetof(Record, I32[4]), "5"},
    {"Low0", &structs_type_float, offsetof(Record, F[0]), "0.5"},
    {"Low1", &structs_type_float, offsetof(Record, F[1]), "-12.25"},
    {"Low2", &structs_type_float, offsetof(Record, F[2]), "1e10"},
    {"Low3", &structs_type_float, offsetof(Record, F[3]), "3.75"},
    {"Low4", &structs_type_float, offsetof(Record, F[4]), "0.1"},
    {"Span0", &structs_type_double, offsetof(Record, D[0]), "1000.5"},
    {"Span1", &structs_type_double, offsetof(Record, D[1]), "-0.001"},
    {"Span2", &structs_type_double, offsetof(Record, D[2]), "6.02e23"},
    {"Alarm0", &structs_type_boolean_char, offsetof(Record, B[0]), "True"},
    {"Alarm1", &structs_type_boolean_char, offsetof(Record, B[1]), "False"},
    {"Alarm2", &structs_type_boolean_char_01, offsetof(Record, B[2]), "1"},
    {"Alarm3", &structs_type_boolean_char_onoff, offsetof(Record, B[3]), "On"},
    {"Mode0", &kMode, offsetof(Record, Mode[0]), "Scan"},
    {"Mode1", &kMode, offsetof(Record, Mode[1]), "Hold"},
    {"Tag", &kText32, offsetof(Record, Text[0]), "FT-101"},
    {"Description", &kText32, offsetof(Record, Text[1]), "Feed water flow"},
    {"Units", &kText32, offsetof(Record, Text[2]), "m3/h"},
    {"State", &kText32, offsetof(Record, Text[3]), "Running"},
    {"Server", &structs_type_string, offsetof(Record, Str[0]), "plant-1"},
    {"Folder", &structs_type_string, offsetof(Record, Str[1]), "/var/data"},
    {"Comment", &structs_type_string, offsetof(Record, Str[2]), "x"},
    {"Key", &structs_type_hexdata, offsetof(Record, Hex[0]), "0a0b0c0d"},
    {"Guid", &kId16, offsetof(Record, Id), "00112233445566778899aabbccddeeff"},
};

std::vector<StructsField> make_fields() {
    std::vector<StructsField> fields;
    for (const FieldSpec& s : kSpecs) fields.push_back(structs_field(s.name, *s.type, s.offset));
    fields.push_back(structs_field("Comm", kLink, offsetof(Record, Comm)));
    fields.push_back(structs_field_end());
    return fields;
}

const std::vector<StructsField> kFields = make_fields();
const StructsType kRecord = structs_struct_type(sizeof(Record), kFields.data());

struct Leaf {
    std::string path;
    std::string text;
};

std::vector<Leaf> leaves() {
    std::vector<Leaf> out;
    for (const FieldSpec& s : kSpecs) out.push_back({s.name, s.text});
    out.push_back({"Comm.Baud", "19200"});
    out.push_back({"Comm.Parity", "2"});
    out.push_back({"Comm.Timeout", "250"});
    return out;
}

void BM_SetAndGetEveryLeaf(benchmark::State& state) {
    Record rec;
    if (structs_init_field(&kRecord, nullptr, &rec) != 0) std::abort();
    const std::vector<Leaf> all = leaves();
    if (all.size() != 41) std::abort();
    char ebuf[128];
    for (auto _ : state) {
        for (const Leaf& l : all) {
            if (structs_set_field_text(&kRecord, l.path.c_str(), l.text.c_str(), &rec, ebuf, sizeof ebuf) !=
                0) {
                state.SkipWithError(ebuf);
                return;
            }
            char* t = structs_get_field_text(&kRecord, l.path.c_str(), &rec, kMtype);
            benchmark::DoNotOptimize(t);
            typed_mem_release(kMtype, t);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * all.size()));
    state.counters["ns_per_leaf"] = benchmark::Counter(
        static_cast<double>(state.iterations() * all.size()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
    structs_free_field(&kRecord, nullptr, &rec);
}
BENCHMARK(BM_SetAndGetEveryLeaf)->Iterations(10000);

void BM_ListLeafNames(benchmark::State& state) {
    Record rec;
    if (structs_init_field(&kRecord, nullptr, &rec) != 0) std::abort();
    for (auto _ : state) {
        char** names = nullptr;
        const int n = structs_list_leaf_names(&kRecord, &rec, &names, kMtype);
        if (n != 41) std::abort();
        for (int i = 0; i < n; ++i) typed_mem_release(kMtype, names[i]);
        typed_mem_release(kMtype, names);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 41));
    structs_free_field(&kRecord, nullptr, &rec);
}
BENCHMARK(BM_ListLeafNames);

}  // namespace
