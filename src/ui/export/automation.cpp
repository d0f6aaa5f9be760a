#include "ui/export/automation.h"

#include <algorithm>
#include <cctype>

namespace ipcountry::ui::automation {

TextArray::TextArray(std::int64_t rows, std::int64_t columns) : m_rows(rows), m_columns(columns) {
    if (rows < 0 || columns < 0) {
        throw AutomationError("An array cannot have a negative size.");
    }
    m_cells.resize(static_cast<std::size_t>(rows * columns));
}

std::size_t TextArray::indexOf(std::int64_t row, std::int64_t column) const {
    if (row < 1 || row > m_rows || column < 1 || column > m_columns) {
        throw AutomationError("Array index (" + std::to_string(row) + ", " +
                              std::to_string(column) + ") lies outside the array of " +
                              std::to_string(m_rows) + " x " + std::to_string(m_columns) + ".");
    }
    return static_cast<std::size_t>((row - 1) * m_columns + (column - 1));
}

const std::string& TextArray::at(std::int64_t row, std::int64_t column) const {
    return m_cells[indexOf(row, column)];
}

void TextArray::set(std::int64_t row, std::int64_t column, std::string text) {
    m_cells[indexOf(row, column)] = std::move(text);
}

Argument Argument::named(std::string name, Variant value) {
    Argument argument(std::move(value));
    argument.name = std::move(name);
    return argument;
}

ObjectRef objectOf(const Variant& value, std::string_view what) {
    const auto* object = std::get_if<ObjectRef>(&value);
    if (object == nullptr || *object == nullptr) {
        throw AutomationError(std::string(what) + " returned " + describe(value) +
                              " where an object was expected.");
    }
    return *object;
}

std::string describe(const Variant& value) {
    struct Describer {
        std::string operator()(std::monostate) const { return "empty"; }
        std::string operator()(bool b) const { return b ? "bool:true" : "bool:false"; }
        std::string operator()(std::int16_t i) const { return "i16:" + std::to_string(i); }
        std::string operator()(std::int32_t i) const { return "i32:" + std::to_string(i); }
        std::string operator()(const std::string& s) const { return "text:\"" + s + "\""; }
        std::string operator()(const TextArray& a) const {
            return "array[" + std::to_string(a.rows()) + "x" + std::to_string(a.columns()) + "]";
        }
        std::string operator()(const ObjectRef& o) const { return o ? "object" : "nothing"; }
    };
    return std::visit(Describer{}, value);
}

bool sameMember(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace ipcountry::ui::automation
