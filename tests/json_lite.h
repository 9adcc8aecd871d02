// A small strict JSON reader for checking what the qx480 tool prints: objects,
// arrays, strings (with the escapes the tool writes), numbers kept as their
// text, true, false and null. Anything else fails the parse.
#pragma once

#include <cctype>
#include <map>
#include <string>
#include <vector>

namespace jsonlite {

struct Value {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    std::string text;  // Number: as written; String: unescaped; Bool: "true"/"false"
    std::vector<Value> items;
    std::map<std::string, Value> members;

    const Value& operator[](const std::string& key) const {
        static const Value missing;
        const auto it = members.find(key);
        return it == members.end() ? missing : it->second;
    }
    const Value& operator[](std::size_t i) const {
        static const Value missing;
        return i < items.size() ? items[i] : missing;
    }
};

class Reader {
public:
    explicit Reader(const std::string& text) : m_text(text) {}

    // The whole text must be one value (surrounding white space allowed).
    bool Read(Value& out) {
        if (!ParseValue(out)) return false;
        SkipSpace();
        return m_pos == m_text.size();
    }

private:
    void SkipSpace() {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos]))) ++m_pos;
    }
    bool Take(char c) {
        SkipSpace();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool Literal(const char* word) {
        const std::string w = word;
        if (m_text.compare(m_pos, w.size(), w) != 0) return false;
        m_pos += w.size();
        return true;
    }
    bool ParseValue(Value& v) {
        SkipSpace();
        if (m_pos >= m_text.size()) return false;
        const char c = m_text[m_pos];
        if (c == '{') return ParseObject(v);
        if (c == '[') return ParseArray(v);
        if (c == '"') {
            v.type = Value::Type::String;
            return ParseString(v.text);
        }
        if (Literal("null")) return true;
        for (const char* word : {"true", "false"}) {
            if (Literal(word)) {
                v.type = Value::Type::Bool;
                v.text = word;
                return true;
            }
        }
        return ParseNumber(v);
    }
    bool ParseNumber(Value& v) {
        const std::size_t start = m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '-') ++m_pos;
        if (!Digits()) return false;
        if (m_pos < m_text.size() && m_text[m_pos] == '.') {
            ++m_pos;
            if (!Digits()) return false;
        }
        if (m_pos < m_text.size() && (m_text[m_pos] == 'e' || m_text[m_pos] == 'E')) {
            ++m_pos;
            if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-')) ++m_pos;
            if (!Digits()) return false;
        }
        v.type = Value::Type::Number;
        v.text = m_text.substr(start, m_pos - start);
        return true;
    }
    bool Digits() {
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[m_pos]))) ++m_pos;
        return m_pos > start;
    }
    bool ParseString(std::string& out) {
        ++m_pos;  // the opening quote
        out.clear();
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size()) return false;
            const char e = m_text[m_pos++];
            if (e == '"' || e == '\\' || e == '/') {
                out += e;
            } else if (e == 'u' && m_pos + 4 <= m_text.size()) {
                out += static_cast<char>(std::stoi(m_text.substr(m_pos, 4), nullptr, 16));
                m_pos += 4;
            } else {
                return false;
            }
        }
        return false;
    }
    bool ParseArray(Value& v) {
        v.type = Value::Type::Array;
        ++m_pos;
        if (Take(']')) return true;
        do {
            Value item;
            if (!ParseValue(item)) return false;
            v.items.push_back(item);
        } while (Take(','));
        return Take(']');
    }
    bool ParseObject(Value& v) {
        v.type = Value::Type::Object;
        ++m_pos;
        if (Take('}')) return true;
        do {
            SkipSpace();
            std::string key;
            if (m_pos >= m_text.size() || m_text[m_pos] != '"' || !ParseString(key) || !Take(':')) return false;
            Value member;
            if (!ParseValue(member) || v.members.count(key) != 0) return false;
            v.members[key] = member;
        } while (Take(','));
        return Take('}');
    }

    const std::string& m_text;
    std::size_t m_pos = 0;
};

inline bool Parse(const std::string& text, Value& out) { return Reader(text).Read(out); }

}  // namespace jsonlite
