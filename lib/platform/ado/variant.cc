#include "platform/ado/variant.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/ado/com_error.h"
#include "platform/ado/text_codec.h"

namespace ado {
namespace {

[[noreturn]] void mismatch() { raise(kTypeMismatch, {}, "Type mismatch."); }

bool is_integer(VarType t) { return t == VarType::i2 || t == VarType::i4 || t == VarType::i8 || t == VarType::boolean; }
bool is_real(VarType t) { return t == VarType::r4 || t == VarType::r8; }

double number_from_text(const std::u16string& text) {
    std::string narrow = utf8_from_utf16(text);
    const auto first = narrow.find_first_not_of(" \t");
    const auto last = narrow.find_last_not_of(" \t");
    if (first == std::string::npos) mismatch();
    narrow = narrow.substr(first, last - first + 1);
    double value = 0;
    const auto [ptr, ec] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
    if (ec != std::errc() || ptr != narrow.data() + narrow.size()) mismatch();
    return value;
}

}  // namespace

struct Variant::Heavy {
    std::u16string text;
    std::vector<uint8_t> bytes;
    std::vector<Variant> items;
};

Variant::Variant(const Variant& other)
    : type_(other.type_),
      int_(other.int_),
      real_(other.real_),
      date_(other.date_),
      heavy_(other.heavy_ ? std::make_unique<Heavy>(*other.heavy_) : nullptr) {}

Variant::Variant() = default;
Variant::Variant(Variant&&) noexcept = default;
Variant& Variant::operator=(Variant&&) noexcept = default;
Variant::~Variant() = default;

Variant& Variant::operator=(const Variant& other) {
    if (this != &other) {
        Variant copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Variant::Heavy& Variant::heavy() {
    if (!heavy_) heavy_ = std::make_unique<Heavy>();
    return *heavy_;
}

const std::u16string& Variant::text_value() const {
    static const std::u16string none;
    return heavy_ ? heavy_->text : none;
}

const std::vector<uint8_t>& Variant::bytes() const {
    static const std::vector<uint8_t> none;
    return heavy_ ? heavy_->bytes : none;
}

const std::vector<Variant>& Variant::items() const {
    static const std::vector<Variant> none;
    return heavy_ ? heavy_->items : none;
}

Variant Variant::null() {
    Variant v;
    v.type_ = VarType::null;
    return v;
}
Variant Variant::missing() {
    Variant v;
    v.type_ = VarType::error;
    v.int_ = static_cast<int32_t>(0x80020004);  // DISP_E_PARAMNOTFOUND
    return v;
}
Variant Variant::boolean(bool value) {
    Variant v;
    v.type_ = VarType::boolean;
    v.int_ = value ? -1 : 0;
    return v;
}
Variant Variant::i2(int16_t value) {
    Variant v;
    v.type_ = VarType::i2;
    v.int_ = value;
    return v;
}
Variant Variant::i4(int32_t value) {
    Variant v;
    v.type_ = VarType::i4;
    v.int_ = value;
    return v;
}
Variant Variant::i8(int64_t value) {
    Variant v;
    v.type_ = VarType::i8;
    v.int_ = value;
    return v;
}
Variant Variant::r4(float value) {
    Variant v;
    v.type_ = VarType::r4;
    v.real_ = value;
    return v;
}
Variant Variant::r8(double value) {
    Variant v;
    v.type_ = VarType::r8;
    v.real_ = value;
    return v;
}
Variant Variant::text(std::u16string value) {
    Variant v;
    v.type_ = VarType::bstr;
    v.heavy().text = std::move(value);
    return v;
}
Variant Variant::text_cp1252(std::string_view value) { return text(utf16_from_cp1252(value)); }
Variant Variant::date(DateValue value) {
    Variant v;
    v.type_ = VarType::date;
    v.date_ = value;
    return v;
}
Variant Variant::binary(std::vector<uint8_t> bytes) {
    Variant v;
    v.type_ = VarType::binary;
    v.heavy().bytes = std::move(bytes);
    return v;
}
Variant Variant::array(std::vector<Variant> items) {
    Variant v;
    v.type_ = VarType::array;
    v.heavy().items = std::move(items);
    return v;
}

int16_t Variant::to_bool() const {
    if (is_integer(type_)) return int_ != 0 ? -1 : 0;
    if (is_real(type_)) return real_ != 0 ? -1 : 0;
    if (type_ == VarType::empty) return 0;
    if (type_ == VarType::bstr) {
        const std::string t = utf8_from_utf16(text_value());
        if (t == "True" || t == "true" || t == "TRUE" || t == "#TRUE#") return -1;
        if (t == "False" || t == "false" || t == "FALSE" || t == "#FALSE#") return 0;
        return number_from_text(text_value()) != 0 ? -1 : 0;
    }
    mismatch();
}

int64_t Variant::to_i8() const {
    if (is_integer(type_)) return int_;
    if (type_ == VarType::empty) return 0;
    double d = 0;
    if (is_real(type_)) {
        d = real_;
    } else if (type_ == VarType::bstr) {
        d = number_from_text(text_value());
    } else if (type_ == VarType::date) {
        d = ole_from_date(date_);
    } else {
        mismatch();
    }
    // OLE rounds half to even when it narrows a real.
    if (!std::isfinite(d) || std::fabs(d) >= 9.2e18) raise(hr(0x8002000A), {}, "Overflow.");
    return static_cast<int64_t>(std::nearbyint(d));
}

int32_t Variant::to_i4() const {
    const int64_t v = to_i8();
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        raise(hr(0x8002000A), {}, "Overflow.");
    return static_cast<int32_t>(v);
}

double Variant::to_r8() const {
    if (is_integer(type_)) return static_cast<double>(int_);
    if (is_real(type_)) return real_;
    if (type_ == VarType::empty) return 0;
    if (type_ == VarType::bstr) return number_from_text(text_value());
    if (type_ == VarType::date) return ole_from_date(date_);
    mismatch();
}

std::u16string Variant::to_text() const {
    switch (type_) {
        case VarType::empty:
            return {};
        case VarType::bstr:
            return text_value();
        case VarType::boolean:
            return int_ ? u"True" : u"False";
        case VarType::i2:
        case VarType::i4:
        case VarType::i8:
            return utf16_from_utf8(std::to_string(int_));
        case VarType::r4:
        case VarType::r8: {
            char buf[64];
            const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, real_);
            return ec == std::errc() ? utf16_from_utf8(std::string_view(buf, static_cast<size_t>(ptr - buf)))
                                     : std::u16string();
        }
        case VarType::date:
            return utf16_from_utf8(canonical_date_text(date_).substr(0, 19));
        default:
            mismatch();
    }
}

DateValue Variant::to_date() const {
    if (type_ == VarType::date) return date_;
    if (type_ == VarType::bstr) {
        if (const auto d = parse_date_text(utf8_from_utf16(text_value()))) return *d;
        mismatch();
    }
    if (is_integer(type_) || is_real(type_)) {
        if (const auto d = date_from_ole(to_r8())) return *d;
    }
    mismatch();
}

bool operator==(const Variant& a, const Variant& b) {
    if (a.type_ != b.type_) return false;
    switch (a.type_) {
        case VarType::empty:
        case VarType::null:
            return true;
        case VarType::r4:
        case VarType::r8:
            return a.real_ == b.real_;
        case VarType::date:
            return a.date_ == b.date_;
        case VarType::bstr:
            return a.text_value() == b.text_value();
        case VarType::binary:
            return a.bytes() == b.bytes();
        case VarType::array:
            return a.items() == b.items();
        default:
            return a.int_ == b.int_;
    }
}

}  // namespace ado
