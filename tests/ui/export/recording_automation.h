#pragma once

// A spreadsheet application that only writes down what it is asked, one
// line per call ("Sheets#1 get Cells(i16:1, i16:1)"), so that tests can hold
// the export's calls against the expected list. Every object it returns is
// named after the member that returned it and a running number.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/export/automation.h"

namespace ipcountry::ui::test {

struct RecordingScript {
    std::vector<std::string> calls;
    // The array of each Value assignment, in order.
    std::vector<automation::TextArray> arrays;
    // Answers to property reads by member name; other reads return objects.
    std::map<std::string, automation::Variant> answers{{"EnableEvents", true},
                                                       {"Calculation", std::int32_t{-4105}}};
    // A call whose line equals one of these throws after being written down.
    std::vector<std::string> failures;
    std::string createFailure;  // non-empty: createObject throws it
    std::map<std::string, int> issued;

    std::string nameFor(const std::string& member) {
        return member + "#" + std::to_string(++issued[member]);
    }
    void record(const std::string& line) {
        calls.push_back(line);
        for (const std::string& failure : failures) {
            if (failure == line) throw automation::AutomationError("Refused: " + line);
        }
    }
};

class RecordingObject final : public automation::Object {
public:
    RecordingObject(std::string name, std::shared_ptr<RecordingScript> script)
        : m_name(std::move(name)), m_script(std::move(script)) {}

    const std::string& name() const { return m_name; }

    automation::Variant get(std::string_view member, const automation::Arguments& args) override {
        m_script->record(m_name + " get " + std::string(member) + "(" + format(args) + ")");
        if (auto it = m_script->answers.find(std::string(member)); it != m_script->answers.end()) {
            return it->second;
        }
        return issue(member);
    }

    void set(std::string_view member, automation::Variant value) override {
        m_script->record(m_name + " set " + std::string(member) + " = " + format(value));
        if (auto* array = std::get_if<automation::TextArray>(&value)) {
            m_script->arrays.push_back(std::move(*array));
        }
    }

    automation::Variant call(std::string_view member, const automation::Arguments& args) override {
        m_script->record(m_name + " call " + std::string(member) + "(" + format(args) + ")");
        return issue(member);
    }

private:
    automation::Variant issue(std::string_view member) {
        return std::make_shared<RecordingObject>(m_script->nameFor(std::string(member)), m_script);
    }

    static std::string format(const automation::Variant& value) {
        if (const auto* object = std::get_if<automation::ObjectRef>(&value)) {
            if (const auto* recorded = dynamic_cast<const RecordingObject*>(object->get())) {
                return recorded->name();
            }
        }
        return automation::describe(value);
    }

    static std::string format(const automation::Arguments& args) {
        std::string text;
        for (const automation::Argument& arg : args) {
            if (!text.empty()) text += ", ";
            if (!arg.name.empty()) text += arg.name + "=";
            text += format(arg.value);
        }
        return text;
    }

    std::string m_name;
    std::shared_ptr<RecordingScript> m_script;
};

class RecordingFactory final : public automation::ObjectFactory {
public:
    std::shared_ptr<RecordingScript> script = std::make_shared<RecordingScript>();
    int created = 0;

    automation::ObjectRef createObject(std::string_view progId) override {
        script->calls.push_back("create " + std::string(progId));
        if (!script->createFailure.empty())
            throw automation::AutomationError(script->createFailure);
        return std::make_shared<RecordingObject>(
            created++ == 0 ? "app" : "app" + std::to_string(created), script);
    }
};

}  // namespace ipcountry::ui::test
