#pragma once

// The late-bound automation seam through which the export drives a
// spreadsheet application. Members are named by text at the time of each
// call, as an automation client does it, so that a build on a platform with
// an automation server can bind the same calls to it unchanged, and a test
// can record them.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace ipcountry::ui::automation {

// The spreadsheet application's programmatic identifier and the values of its
// published enumerations that the export sets. The integer widths are the
// ones the export passes.
inline constexpr std::string_view kSpreadsheetProgId = "Excel.Application";
inline constexpr std::int32_t kWindowMaximized = -4137;
inline constexpr std::int16_t kCalculationManual = -4135;
inline constexpr std::int32_t kCalculationAutomatic = -4105;

class Object;
using ObjectRef = std::shared_ptr<Object>;

// A two-dimensional array of texts (UTF-8), indexed from 1 in both
// dimensions as the automation servers expect such arrays.
class TextArray {
public:
    TextArray() = default;
    TextArray(std::int64_t rows, std::int64_t columns);

    std::int64_t rows() const { return m_rows; }
    std::int64_t columns() const { return m_columns; }
    const std::string& at(std::int64_t row, std::int64_t column) const;
    void set(std::int64_t row, std::int64_t column, std::string text);

    // Row-major storage, so that a receiver can take the texts over without
    // copying a million of them.
    std::vector<std::string>& cells() { return m_cells; }
    const std::vector<std::string>& cells() const { return m_cells; }

    friend bool operator==(const TextArray&, const TextArray&) = default;

private:
    std::size_t indexOf(std::int64_t row, std::int64_t column) const;

    std::int64_t m_rows = 0;
    std::int64_t m_columns = 0;
    std::vector<std::string> m_cells;
};

// The types an argument or a property value can have. The integer widths
// matter: servers coerce by type, and the export states which one it passes.
using Variant = std::variant<std::monostate, bool, std::int16_t, std::int32_t, std::string,
                             TextArray, ObjectRef>;

// One argument of a call; a non-empty name makes it a named argument.
struct Argument {
    std::string name;
    Variant value;

    // Implicit, so that positional arguments read as {std::int16_t{1}, "A1"}.
    template <typename T>
    requires std::is_constructible_v<Variant, T> Argument(T&& v)
        : value(std::forward<T>(v)) {}  // NOLINT(google-explicit-constructor)
    static Argument named(std::string name, Variant value);
};
using Arguments = std::vector<Argument>;

// A failure reported by the automation server or by the binding to it, with
// a description a person understands.
class AutomationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An object of the server, reached by member names.
class Object {
public:
    virtual ~Object() = default;
    // A property read; indexed properties (Cells(1, 1)) take arguments.
    virtual Variant get(std::string_view member, const Arguments& arguments = {}) = 0;
    // A property write. The value is handed over, so large arrays move.
    virtual void set(std::string_view member, Variant value) = 0;
    virtual Variant call(std::string_view member, const Arguments& arguments = {}) = 0;
};

// Creates the top-level object that a programmatic identifier names.
class ObjectFactory {
public:
    virtual ~ObjectFactory() = default;
    virtual ObjectRef createObject(std::string_view progId) = 0;
};

// The object a get or a call returned; `what` names it in the error.
ObjectRef objectOf(const Variant& value, std::string_view what);

// "bool:true", "i16:1", "text:\"2:2\"", "array[3x3]", ... for messages and logs.
std::string describe(const Variant& value);

// Member names are matched without regard to case, as late binding does.
bool sameMember(std::string_view a, std::string_view b);

}  // namespace ipcountry::ui::automation
