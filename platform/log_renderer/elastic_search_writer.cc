#include "platform/log_renderer/elastic_search_writer.h"

#include <charconv>
#include <cmath>

namespace {

// Length of the well-formed UTF-8 sequence that starts at p (first byte >= 0x80), or 0.
size_t Utf8SequenceLength(const unsigned char* p, size_t avail) {
  const unsigned char c = p[0];
  auto cont = [&](size_t i, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
    return i < avail && p[i] >= lo && p[i] <= hi;
  };
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c == 0xE0) return cont(1, 0xA0) && cont(2) ? 3 : 0;
  if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) return cont(1) && cont(2) ? 3 : 0;
  if (c == 0xED) return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;  // no surrogates
  if (c == 0xF0) return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
  if (c >= 0xF1 && c <= 0xF3) return cont(1) && cont(2) && cont(3) ? 4 : 0;
  if (c == 0xF4) return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
  return 0;
}

constexpr char kHex[] = "0123456789abcdef";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

template <typename T>
void AppendNumber(std::string* out, T value) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof(buf), value);
  out->append(buf, res.ptr);
}

template <typename T>
void AppendFloating(std::string* out, T value) {
  if (std::isnan(value)) {
    out->append("\"NaN\"");
  } else if (std::isinf(value)) {
    out->append(value > 0 ? "\"Infinity\"" : "\"-Infinity\"");
  } else {
    AppendNumber(out, value);
  }
}

}  // namespace

void ElasticSearchWriter::AppendEscaped(std::string* out, std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t run = 0;  // start of the pending run of bytes copied as they are
  size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      ++i;
      continue;
    }
    out->append(text.data() + run, i - run);
    if (c >= 0x80) {
      const size_t len = Utf8SequenceLength(p + i, n - i);
      if (len != 0) {
        out->append(text.data() + i, len);
        i += len;
      } else {
        out->append("\xEF\xBF\xBD");
        ++i;
      }
    } else {
      switch (c) {
        case '"': out->append("\\\""); break;
        case '\\': out->append("\\\\"); break;
        case '\n': out->append("\\n"); break;
        case '\r': out->append("\\r"); break;
        case '\t': out->append("\\t"); break;
        case '\b': out->append("\\b"); break;
        case '\f': out->append("\\f"); break;
        default: {
          const char esc[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
          out->append(esc, sizeof(esc));
        }
      }
      ++i;
    }
    run = i;
  }
  out->append(text.data() + run, n - run);
}

void ElasticSearchWriter::Key(std::string_view name) {
  String(name);
  out_->push_back(':');
}

void ElasticSearchWriter::String(std::string_view text) {
  out_->push_back('"');
  AppendEscaped(out_, text);
  out_->push_back('"');
}

void ElasticSearchWriter::Bytes(std::string_view data) {
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  const size_t n = data.size();
  out_->reserve(out_->size() + (n + 2) / 3 * 4 + 2);
  out_->push_back('"');
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    const char quad[] = {kBase64[v >> 18], kBase64[(v >> 12) & 63], kBase64[(v >> 6) & 63],
                         kBase64[v & 63]};
    out_->append(quad, 4);
  }
  if (n - i == 1) {
    const uint32_t v = p[i] << 16;
    const char quad[] = {kBase64[v >> 18], kBase64[(v >> 12) & 63], '=', '='};
    out_->append(quad, 4);
  } else if (n - i == 2) {
    const uint32_t v = (p[i] << 16) | (p[i + 1] << 8);
    const char quad[] = {kBase64[v >> 18], kBase64[(v >> 12) & 63], kBase64[(v >> 6) & 63], '='};
    out_->append(quad, 4);
  }
  out_->push_back('"');
}

void ElasticSearchWriter::Int(int64_t value) { AppendNumber(out_, value); }
void ElasticSearchWriter::Uint(uint64_t value) { AppendNumber(out_, value); }
void ElasticSearchWriter::Double(double value) { AppendFloating(out_, value); }
void ElasticSearchWriter::Float(float value) { AppendFloating(out_, value); }
