#include "base/format.h"

#include "base/text.h"

namespace kavo {
namespace {

std::u16string Hex(uint64_t v, bool upper) {
    const char16_t* digits = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
    std::u16string r;
    do {
        r.insert(r.begin(), digits[v & 0xF]);
        v >>= 4;
    } while (v != 0);
    return r;
}

void Pad(std::u16string& out, std::u16string body, size_t width, bool left, bool zero) {
    if (body.size() >= width) {
        out += body;
        return;
    }
    const size_t fill = width - body.size();
    if (left) {
        out += body;
        out.append(fill, u' ');
    } else if (zero) {
        size_t sign = (!body.empty() && body[0] == u'-') ? 1 : 0;
        out += body.substr(0, sign);
        out.append(fill, u'0');
        out += body.substr(sign);
    } else {
        out.append(fill, u' ');
        out += body;
    }
}

}  // namespace

std::u16string FormatArgs(std::u16string_view fmt, const std::vector<FormatArg>& args) {
    std::u16string out;
    out.reserve(fmt.size() + 32);
    size_t next = 0;
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != u'%') {
            out.push_back(fmt[i]);
            continue;
        }
        const size_t start = i++;
        if (i < fmt.size() && fmt[i] == u'%') {
            out.push_back(u'%');
            continue;
        }
        bool left = false;
        bool zero = false;
        while (i < fmt.size() && (fmt[i] == u'-' || fmt[i] == u'0')) {
            (fmt[i] == u'-' ? left : zero) = true;
            ++i;
        }
        size_t width = 0;
        while (i < fmt.size() && fmt[i] >= u'0' && fmt[i] <= u'9') {
            width = width * 10 + static_cast<size_t>(fmt[i] - u'0');
            ++i;
        }
        while (i < fmt.size() && (fmt[i] == u'l' || fmt[i] == u'h')) {
            ++i;
        }
        if (fmt.substr(i, 3) == u"I64") {
            i += 3;
        }
        if (i >= fmt.size()) {
            out += fmt.substr(start);
            break;
        }
        const char16_t conv = fmt[i];
        const FormatArg* arg = next < args.size() ? &args[next] : nullptr;
        bool ok = arg != nullptr;
        std::u16string body;
        if (ok) {
            switch (conv) {
                case u's':
                    ok = arg->kind == FormatArg::Kind::kText;
                    body = std::u16string(arg->text);
                    break;
                case u'c':
                    ok = arg->kind != FormatArg::Kind::kText;
                    body.push_back(static_cast<char16_t>(
                        arg->kind == FormatArg::Kind::kUnsigned ? arg->u : arg->i));
                    break;
                case u'd':
                case u'i':
                case u'u':
                case u'x':
                case u'X': {
                    ok = arg->kind != FormatArg::Kind::kText;
                    const bool neg = arg->kind != FormatArg::Kind::kUnsigned && arg->i < 0;
                    const uint64_t mag = arg->kind == FormatArg::Kind::kUnsigned
                                             ? arg->u
                                             : static_cast<uint64_t>(arg->i);
                    if (conv == u'x' || conv == u'X') {
                        body = Hex(mag, conv == u'X');
                    } else if (conv == u'u' || !neg) {
                        body = ToDecimalUnsigned(mag);
                    } else {
                        body = ToDecimal(arg->i);
                    }
                    break;
                }
                default:
                    ok = false;
            }
        }
        if (!ok) {
            out += fmt.substr(start, i - start + 1);
            continue;
        }
        ++next;
        Pad(out, std::move(body), width, left, zero && conv != u's' && conv != u'c');
    }
    return out;
}

}  // namespace kavo
