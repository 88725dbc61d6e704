#include "platform/ado/command.h"

#include "platform/ado/com_error.h"
#include "platform/ado/connection.h"
#include "platform/ado/statement.h"
#include "platform/ado/text_codec.h"

namespace ado {

void Command::append_parameter(int type, int size, const Variant& value) {
    Parameter p{type, size, value};
    if ((type == kParamDate || type == kParamTimeStamp) && !value.is_null() && !value.is_empty()) {
        if (value.type() == VarType::r8 || value.type() == VarType::r4) {
            const auto date = date_from_ole(value.real_value());
            if (!date) raise(kConversion, {}, "the parameter is not a valid date");
            p.value = Variant::date(*date);
        } else {
            p.value = Variant::date(value.to_date());
        }
    } else if ((type == kParamInteger || type == kParamBigInt) && !value.is_null() && !value.is_empty()) {
        p.value = type == kParamInteger ? Variant::i4(value.to_i4()) : Variant::i8(value.to_i8());
    } else if (type == kParamDouble && !value.is_null() && !value.is_empty()) {
        p.value = Variant::r8(value.to_r8());
    } else if ((type == kParamWChar || type == kParamVarWChar) && !value.is_null() && !value.is_empty()) {
        p.value = Variant::text(value.to_text());
    }
    params_.push_back(std::move(p));
}

int64_t Command::execute() {
    if (!connection_ || connection_->state() == 0)
        raise(hr(0x800A0E7D), {}, "The connection cannot be used to perform this operation.");
    std::vector<Variant> values;
    for (const auto& p : params_) {
        if (p.size > 0 && p.value.type() == VarType::bstr && p.value.text_value().size() > static_cast<size_t>(p.size))
            raise(kTooLong, connection_->provider(), "a text parameter is longer than its size");
        values.push_back(p.value);
    }
    Statement statement(*connection_);
    statement.prepare(utf8_from_utf16(text_));
    statement.bind(values);
    statement.execute();
    return statement.row_count();
}

}  // namespace ado
