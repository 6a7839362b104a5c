#include "TextFormat.h"

#include <cstdio>
#include <vector>

namespace varnelo::desktop {

namespace {

// The C library's rounding, as printf gives it (42.25 -> "42.2").
QString fixed(double value, int precision) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", precision, value);
  return QString::fromLatin1(buffer);
}

QString asText(const FormatArg& arg) {
  if (const auto* s = std::get_if<QString>(&arg)) return *s;
  if (const auto* i = std::get_if<long long>(&arg)) return QString::number(*i);
  return fixed(std::get<double>(arg), 6);
}

long long asInteger(const FormatArg& arg) {
  if (const auto* i = std::get_if<long long>(&arg)) return *i;
  if (const auto* d = std::get_if<double>(&arg)) return static_cast<long long>(*d);
  return std::get<QString>(arg).toLongLong();
}

double asReal(const FormatArg& arg) {
  if (const auto* d = std::get_if<double>(&arg)) return *d;
  if (const auto* i = std::get_if<long long>(&arg)) return static_cast<double>(*i);
  return std::get<QString>(arg).toDouble();
}

}  // namespace

QString formatText(const QString& format, std::initializer_list<FormatArg> args) {
  const std::vector<FormatArg> values(args);
  size_t next = 0;
  QString out;
  out.reserve(format.size() + 16);
  const qsizetype n = format.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = format[i];
    if (c != QLatin1Char('%') || i + 1 >= n) {
      out += c;
      continue;
    }
    qsizetype j = i + 1;
    if (format[j] == QLatin1Char('%')) {
      out += QLatin1Char('%');
      i = j;
      continue;
    }
    int precision = -1;
    if (format[j] == QLatin1Char('.')) {
      precision = 0;
      ++j;
      while (j < n && format[j].isDigit()) precision = precision * 10 + format[j++].digitValue();
    }
    // Length modifiers: l, ll, I64.
    while (j < n && (format[j] == QLatin1Char('l') || format[j] == QLatin1Char('I') ||
                     format[j] == QLatin1Char('6') || format[j] == QLatin1Char('4')))
      ++j;
    if (j >= n) {
      out += format.mid(i);
      break;
    }
    const QChar conv = format[j];
    const FormatArg* arg = next < values.size() ? &values[next] : nullptr;
    if (conv == QLatin1Char('s')) {
      if (arg) out += asText(*arg);
    } else if (conv == QLatin1Char('d') || conv == QLatin1Char('u') || conv == QLatin1Char('i')) {
      if (arg) out += QString::number(asInteger(*arg));
    } else if (conv == QLatin1Char('f')) {
      if (arg) out += fixed(asReal(*arg), precision < 0 ? 6 : precision);
    } else {
      // Not a conversion we know: keep the text as it stands.
      out += format.mid(i, j - i + 1);
      i = j;
      continue;
    }
    ++next;
    i = j;
  }
  return out;
}

QString withoutMnemonic(const QString& menuText) {
  QString out;
  for (qsizetype i = 0; i < menuText.size(); ++i) {
    const QChar c = menuText[i];
    if (c != QLatin1Char('&')) {
      out += c;
      continue;
    }
    if (i + 1 < menuText.size() && menuText[i + 1] == QLatin1Char('&')) {
      out += c;
      ++i;
      continue;
    }
    // "(&A)" goes whole; a bare "&" before a letter goes alone.
    if (out.endsWith(QLatin1Char('(')) && i + 2 < menuText.size() &&
        menuText[i + 2] == QLatin1Char(')')) {
      out.chop(1);
      i += 2;
    }
  }
  return out.trimmed();
}

}  // namespace varnelo::desktop
