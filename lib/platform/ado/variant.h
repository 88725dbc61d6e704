#pragma once
// The value of a field or parameter, with the OLE Automation type numbers callers test
// (VT_BOOL is 11, VT_R8 is 5, ...), and the coercions the logged-data stores rely on.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/date_value.h"

namespace ado {

enum class VarType : uint16_t {
    empty = 0,
    null = 1,
    i2 = 2,
    i4 = 3,
    r4 = 4,
    r8 = 5,
    date = 7,
    bstr = 8,
    error = 10,  // a missing optional argument
    boolean = 11,
    i8 = 20,
    array = 0x200C,   // an array of variants
    binary = 0x2011,  // an array of bytes
};

class Variant {
  public:
    Variant();
    Variant(const Variant& other);
    Variant& operator=(const Variant& other);
    Variant(Variant&&) noexcept;
    Variant& operator=(Variant&&) noexcept;
    ~Variant();
    static Variant null();
    static Variant missing();
    static Variant boolean(bool value);
    static Variant i2(int16_t value);
    static Variant i4(int32_t value);
    static Variant i8(int64_t value);
    static Variant r4(float value);
    static Variant r8(double value);
    static Variant text(std::u16string value);
    // An 8-bit (Windows-1252) text.
    static Variant text_cp1252(std::string_view value);
    static Variant date(DateValue value);
    static Variant binary(std::vector<uint8_t> bytes);
    static Variant array(std::vector<Variant> items);

    VarType type() const { return type_; }
    bool is_empty() const { return type_ == VarType::empty; }
    bool is_null() const { return type_ == VarType::null; }
    bool is_missing() const { return type_ == VarType::error; }

    // The held value of the exact type; calling the wrong one is a programming error
    // and gives the zero value.
    int16_t bool_value() const { return type_ == VarType::boolean ? static_cast<int16_t>(int_) : 0; }
    int64_t int_value() const { return int_; }
    double real_value() const { return real_; }
    const std::u16string& text_value() const;
    DateValue date_value() const { return date_; }
    const std::vector<uint8_t>& bytes() const;
    const std::vector<Variant>& items() const;

    // ADO's coercions; each raises a ComError 0x80020005 when the value does not convert.
    int16_t to_bool() const;  // -1 true, 0 false
    int32_t to_i4() const;
    int64_t to_i8() const;
    double to_r8() const;
    std::u16string to_text() const;
    DateValue to_date() const;

    // Same type and equal contents (the comparison the accessor's field tests make).
    friend bool operator==(const Variant& a, const Variant& b);

  private:
    VarType type_ = VarType::empty;
    int64_t int_ = 0;
    double real_ = 0;
    DateValue date_{};
    // Texts, bytes and arrays live apart, so that the numbers of a row of values stay small
    // to make, move and copy.
    struct Heavy;
    std::unique_ptr<Heavy> heavy_;
    Heavy& heavy();
};

}  // namespace ado
