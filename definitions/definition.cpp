// The device definition parser.
//
// A definition is read as logical lines: a physical line loses its comment ("#" outside
// quotes) and its surplus blanks; a line ending with "," continues on the next non-empty
// line; a logical line holds at most kMaxLogicalLine characters. The text is read twice:
// pass 1 handles parameter and translation lines, pass 2 the bracketed lines.
//
// Choices where the language leaves one open:
// - An address that gives only the page is rejected ("'Page' and 'offset' missing!"): a
//   forgotten offset would silently address offset 0.
// - A reference must name a hidden setting: a bracketed record that is neither a constant nor
//   a text setting ([DUT], [DUT_DisplayAs], [Baudrate] have no memory cell either). Any other
//   target rejects the definition with kBadReferenceTarget, naming both records.
// - The list's count and a record's state count are 8 bits: a 256th record or state rejects the
//   definition (kTooManyRecords, kTooManyStates) with its line.
// - The macro table holds at most kMaxMacroRows rows; more are reported as lack of memory.
#include "definitions/definition.h"

#include <charconv>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>
#include <sstream>
#include <string>

#include "definitions/scan.h"
#include "platform/message_box.h"

namespace lumo {
namespace {

// Messages of our own choice; like every definition message they exist in English only.
constexpr const char* kTooManyRecords = "Too many parameter definitions (at most 255)!";
constexpr const char* kTooManyStates = "Too many states (at most 255)!";
constexpr const char* kBadReferenceTarget =
    "Reference %s of parameter %s must name a hidden setting that is not a constant!";

// Far beyond any real definition (every name, tooltip and state of 255 records with a macro of
// its own stays within it); keeps a hostile text from growing the table without bound.
constexpr size_t kMaxMacroRows = 65535;

constexpr size_t kMaxTranslations = 4;  // entries of a translation row
constexpr const char* kEndMarker = "ENDDEF";
constexpr const char* kOperators = "+-_*/\\";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Fills the "%s" places of a message text in order; the arguments are never searched.
std::string Format(const char* format, std::initializer_list<const char*> arguments) {
  std::string text = format != nullptr ? format : "";
  size_t from = 0;
  for (const char* argument : arguments) {
    const size_t at = text.find("%s", from);
    if (at == std::string::npos) break;
    const std::string value = argument != nullptr ? argument : "";
    text.replace(at, 2, value);
    from = at + value.size();
  }
  return text;
}

// ---- Logical lines ----------------------------------------------------------------------

class LineReader {
 public:
  explicit LineReader(std::istream& in) : buffer_(in.rdbuf()) {}

  // The next logical line; false at the end of the text (a pending line is dropped).
  bool Next(std::string& line) {
    line.clear();
    bool pending = false;
    for (;;) {
      const size_t room = kMaxLogicalLine - line.size();
      if (room == 0) return true;  // full: the logical line ends here
      std::string piece;
      if (!ReadPhysical(room, piece)) return false;
      CutComment(piece);
      NormalizeBlanks(piece.data());
      piece.resize(std::strlen(piece.c_str()));
      if (piece.empty()) {
        if (pending) return true;
        continue;
      }
      line += piece;
      if (line.back() != ',') return true;
      pending = true;
    }
  }

  // Physical lines read in this pass, skipped ones included.
  uint64_t LineCount() const { return lineCount_; }

 private:
  // At most `room` characters up to the line end; a longer line's rest is the next line.
  bool ReadPhysical(size_t room, std::string& piece) {
    if (buffer_ == nullptr) return false;
    bool any = false;
    bool lineEnd = false;
    while (piece.size() < room) {
      const int c = buffer_->sbumpc();
      if (c == std::char_traits<char>::eof()) break;
      any = true;
      if (c == '\n') {
        lineEnd = true;
        break;
      }
      piece.push_back(static_cast<char>(c));
    }
    if (!any && piece.size() < room) return false;  // the end of the text
    if (lineEnd && !piece.empty() && piece.back() == '\r') piece.pop_back();
    ++lineCount_;
    return true;
  }

  static void CutComment(std::string& piece) {
    bool quoted = false;
    for (size_t i = 0; i < piece.size() && piece[i] != '\0'; ++i) {
      if (piece[i] == '"') {
        quoted = !quoted;
      } else if (piece[i] == '#' && !quoted) {
        piece.resize(i);
        return;
      }
    }
  }

  std::streambuf* buffer_;
  uint64_t lineCount_ = 0;
};

// ---- One logical line ---------------------------------------------------------------------

enum class LineKind { kParameter, kHidden, kTextSetting, kTranslation };

class Parser {
 public:
  explicit Parser(ParDef* def) : def_(def) {}

  // Parses one logical line of the given pass (1 or 2); false with an error on the cursor.
  bool ParseLine(ScanCursor& c, int pass) {
    try {
      return Line(c, pass);
    } catch (const std::bad_alloc&) {
      return Fail(c, "ERRMEMORY");
    }
  }

  // The checks after both passes; the message of the first failure, empty when none.
  std::string CheckReferencesAndMacros() {
    for (PVar& record : def_->records) {
      std::string missing = MissingMacro(record);
      if (!missing.empty()) return Format(MsgText("ERRPVAR_NOTBLENTRY"), {missing.c_str()});
      if (!record.hasReference) continue;
      const PVar* target = FindRecord(def_, record.refName);
      if (target == nullptr) return Format(MsgText("ERRPVAR_28"), {record.refName});
      if (!target->bracketed || target->constant || IsTextSettingName(target->name)) {
        return Format(kBadReferenceTarget, {record.refName, record.name});
      }
      record.refTarget = target;
    }
    return std::string();
  }

 private:
  static bool Fail(ScanCursor& c, const char* msgId) {
    SetScanError(&c, MsgText(msgId));
    return false;
  }

  static bool FailText(ScanCursor& c, const char* text) {
    SetScanError(&c, text);
    return false;
  }

  // A failed scan: the end of the line, a scanner misuse, or the place's own message.
  static bool ScanFailed(ScanCursor& c, int32_t code, const char* badFormId) {
    switch (code) {
      case kScanEndOfText:
        return Fail(c, "ERRPVAR_TRUNCLINE");
      case kScanMissingArg:
        return Fail(c, "ERRPVAR_INTERN");
      case kScanBadForm:
        return Fail(c, badFormId);
    }
    return false;  // kScanHasError: the first message stands
  }

  bool Line(ScanCursor& c, int pass) {
    SkipBlanks(c.position);
    char name[kMaxNameLen + 1];
    int32_t length = ScanString(&c, name, sizeof name, ":=", true);
    if (length < 0) return ScanFailed(c, length, "ERRPVAR_17");
    if (length == 0) return Fail(c, "ERRPVAR_14");
    if (static_cast<size_t>(length) > kMaxNameLen) return Fail(c, "ERRPVAR_1");
    const size_t nameLength = std::strlen(name);
    const bool bracketed = name[0] == '[';
    if (bracketed && name[nameLength - 1] != ']') return Fail(c, "ERRPVAR_10");
    if (bracketed != (pass == 2)) return true;  // the other pass handles it

    LineKind kind = LineKind::kParameter;
    if (IsTextSettingName(name)) {
      kind = LineKind::kTextSetting;
    } else if (bracketed) {
      kind = LineKind::kHidden;
    }
    const int32_t assignment = ScanDelimiter(&c, ":=");
    if (assignment == ':') {
      const int32_t code = ScanDelimiter(&c, "=");
      if (code < 0) return ScanFailed(c, code, "ERRPVAR_11");
      if (!IsMacro(name)) return Fail(c, "ERRPVAR_9");
      kind = LineKind::kTranslation;
    } else if (assignment != '=') {
      return Fail(c, assignment == kScanHasError ? "ERRPVAR_INTERN" : "ERRPVAR_16");
    }
    if (*c.position == '\0') return Fail(c, "ERRPVAR_TRUNCLINE");
    if (kind == LineKind::kTranslation) return Translation(c, name) && NothingLeft(c);

    PVar record;
    CopyField(record.name, name);
    record.bracketed = bracketed ? 1 : 0;
    if (*c.position == '(') {
      if (kind != LineKind::kHidden) return Fail(c, "ERRPVAR_7");
      if (!Constant(c, record)) return false;
      return Append(c, record) && NothingLeft(c);
    }
    if (kind == LineKind::kTextSetting) {
      length = ScanString(&c, record.description, sizeof record.description, "", true);
      if (length < 0) return ScanFailed(c, length, "ERRPVAR_17");
      if (length == 0 || static_cast<size_t>(length) > kMaxDescriptionLen) {
        return Fail(c, "ERRPVAR_2");
      }
      return Append(c, record) && NothingLeft(c);
    }
    if (!Parameter(c, record) || !Append(c, record)) return false;
    if (*c.position != '\0' && !LimitsOrStates(c, def_->records.back())) return false;
    return NothingLeft(c);
  }

  static bool NothingLeft(ScanCursor& c) {
    if (c.error != nullptr) return false;
    if (*c.position != '\0') return Fail(c, "ERRPVAR_8");
    return true;
  }

  bool Append(ScanCursor& c, const PVar& record) {
    if (def_->records.size() >= kMaxRecords) return FailText(c, kTooManyRecords);
    def_->records.push_back(record);
    return true;
  }

  // "(" number ")": the number in the usual decimal notation, 0.0 when there is none.
  static bool Constant(ScanCursor& c, PVar& record) {
    ++c.position;  // the "("
    record.constant = 1;
    record.constantValue = ReadDecimal(c.position);
    SkipBlanks(c.position);
    const int32_t code = ScanDelimiter(&c, ")");
    if (code < 0) return ScanFailed(c, code, "ERRPVAR_25");
    return true;
  }

  // Blanks, optional sign, digits with an optional decimal point, optional exponent; the
  // same in every locale. Without a number the position stays and the value is 0.0.
  static double ReadDecimal(const char*& position) {
    const char* p = position;
    SkipBlanks(p);
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const char* digits = p;
    long order = 0;  // decimal order of magnitude, to tell overflow from underflow
    bool significant = false;
    size_t mantissaDigits = 0;
    for (; IsDigit(*p); ++p, ++mantissaDigits) {
      significant = significant || *p != '0';
      if (significant) ++order;
    }
    if (*p == '.') {
      for (++p; IsDigit(*p); ++p, ++mantissaDigits) {
        if (!significant && *p == '0') --order;
        significant = significant || *p != '0';
      }
    }
    if (mantissaDigits == 0) return 0.0;
    if (*p == 'e' || *p == 'E') {
      const char* e = p + 1;
      const bool negativeExponent = *e == '-';
      if (*e == '+' || *e == '-') ++e;
      if (IsDigit(*e)) {
        long exponent = 0;
        for (; IsDigit(*e); ++e) {
          if (exponent < 100000) exponent = exponent * 10 + (*e - '0');
        }
        order += negativeExponent ? -exponent : exponent;
        p = e;
      }
    }
    double value = 0.0;
    if (std::from_chars(digits, p, value).ec == std::errc::result_out_of_range) {
      // Too large: the largest finite value; too small: zero.
      value = order > 0 ? std::numeric_limits<double>::max() : 0.0;
    }
    position = p;
    return negative ? -value : value;
  }

  // Description, signed flag, address, expression and default value.
  static bool Parameter(ScanCursor& c, PVar& record) {
    if (!IsDigit(*c.position)) {
      const int32_t length =
          ScanString(&c, record.description, sizeof record.description, ",", true);
      if (length < 0) return ScanFailed(c, length, "ERRPVAR_17");
      if (length == 0 || static_cast<size_t>(length) > kMaxDescriptionLen) {
        return Fail(c, "ERRPVAR_2");
      }
      const int32_t code = ScanDelimiter(&c, ",");
      if (code < 0) return ScanFailed(c, code, "ERRPVAR_18");
    }
    if (ScanDelimiter(&c, "sS") > 0) record.isSigned = 1;

    static const char* const kAddressErrors[] = {"ERRPVAR_19", "ERRPVAR_20", "ERRPVAR_21",
                                                 "ERRPVAR_22"};
    int32_t address[4] = {0, 0, static_cast<int32_t>(0xFFFFFFFFu), 0};
    int count = 0;
    for (;;) {
      const int32_t code = ScanNumber(&c, &address[count]);
      if (code < 0) return ScanFailed(c, code, kAddressErrors[count]);
      ++count;
      if (code != ':' || count == 4) break;
      ScanDelimiter(&c, ":");
    }
    if (count == 1) return Fail(c, "ERRPVAR_12");
    record.page = static_cast<uint8_t>(address[0] & 0xFF);
    record.offset = static_cast<uint8_t>(address[1] & 0xFF);
    record.mask = static_cast<uint32_t>(address[2]);
    record.rShift = static_cast<uint8_t>(address[3] & 0xFF);
    if (record.page > kMaxParamPage) return Fail(c, "ERRPVAR_3");
    if (record.offset > kMaxParamOffset) return Fail(c, "ERRPVAR_5");
    if (record.rShift > kMaxRShift) return Fail(c, "ERRPVAR_6");

    if (*c.position != '\0' && std::strchr(kOperators, *c.position) != nullptr) {
      record.op = static_cast<char>(ScanDelimiter(&c, kOperators));
      int32_t code = ScanDelimiter(&c, "(");
      if (code < 0) return ScanFailed(c, code, "ERRPVAR_26");
      const int32_t length = ScanString(&c, record.refName, sizeof record.refName, ")", true);
      if (length < 0) return ScanFailed(c, length, "ERRPVAR_17");
      if (length == 0 || static_cast<size_t>(length) > kMaxNameLen) return Fail(c, "ERRPVAR_1");
      code = ScanDelimiter(&c, ")");
      if (code < 0) return ScanFailed(c, code, "ERRPVAR_27");
      record.hasReference = 1;
    }

    if (*c.position == ',') {
      const char* before = c.position;
      ScanDelimiter(&c, ",");
      int32_t value = 0;
      if (IsDigit(*c.position) && ScanNumber(&c, &value) != ':') {
        record.editValue = value;
        record.editValid = 1;
      } else {
        c.position = before;  // limits or states follow
      }
    } else if (*c.position != '\0') {
      return Fail(c, "ERRPVAR_18");
    }
    return true;
  }

  // ", {min..max}" or ", state, state, ...".
  static bool LimitsOrStates(ScanCursor& c, PVar& record) {
    int32_t first = 0;
    int32_t second = 0;
    size_t consumed = 0;
    const int fields = MatchLimits(c.position, &first, &second, &consumed);
    if (fields == 4) {
      record.hasLimits = 1;
      record.minimum = first < second ? first : second;
      record.maximum = first < second ? second : first;
      c.position += consumed;
      return true;
    }
    if (fields > 0) return Fail(c, "ERRPVAR_32");
    if (*c.position != ',') return true;  // reported as a character left on the line
    while (*c.position == ',') {
      ScanDelimiter(&c, ",");
      PState state;
      if (ScanDelimiter(&c, "*") == '*') state.isDefault = 1;
      int32_t code = ScanNumber(&c, &state.value);
      if (code < 0) return ScanFailed(c, code, "ERRPVAR_23");
      code = ScanDelimiter(&c, ":");
      if (code < 0) return ScanFailed(c, code, "ERRPVAR_24");
      const int32_t length = ScanString(&c, state.name, sizeof state.name, ",", true);
      if (length < 0) return ScanFailed(c, length, "ERRPVAR_17");
      if (length == 0) return Fail(c, "ERRPVAR_15");
      if (static_cast<size_t>(length) > kMaxNameLen) return Fail(c, "ERRPVAR_4");
      if (record.states.size() >= kMaxStates) return FailText(c, kTooManyStates);
      record.states.push_back(state);
    }
    return true;
  }

  // Formatted input of ", %[{] %d .. %d %[}] %n": the number of fields matched (0 to 4); with
  // all four, `consumed` counts the characters matched.
  static int MatchLimits(const char* text, int32_t* first, int32_t* second, size_t* consumed) {
    const char* p = text;
    if (*p != ',') return 0;
    ++p;
    SkipBlanks(p);
    if (*p != '{') return 0;
    while (*p == '{') ++p;
    SkipBlanks(p);
    if (!ReadInt(p, first)) return 1;
    SkipBlanks(p);
    if (p[0] != '.' || p[1] != '.') return 2;
    p += 2;
    SkipBlanks(p);
    if (!ReadInt(p, second)) return 2;
    SkipBlanks(p);
    if (*p != '}') return 3;
    while (*p == '}') ++p;
    SkipBlanks(p);
    *consumed = static_cast<size_t>(p - text);
    return 4;
  }

  // A decimal integer with optional sign, 32-bit wrap-around.
  static bool ReadInt(const char*& position, int32_t* value) {
    const char* p = position;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!IsDigit(*p)) return false;
    uint32_t v = 0;
    while (IsDigit(*p)) v = v * 10u + static_cast<uint32_t>(*p++ - '0');
    *value = static_cast<int32_t>(negative ? 0u - v : v);
    position = p;
    return true;
  }

  // "lang: text, lang: text, ..." after ":=": one row of the macro table.
  bool Translation(ScanCursor& c, const char* name) {
    TranslationRow row{};
    row.keyKind = 1;
    size_t entries = 0;
    for (;;) {
      if (entries == kMaxTranslations) return Fail(c, "ERRPVAR_13");
      char language[kMaxDescriptionLen + 1];
      int32_t length = ScanString(&c, language, sizeof language, ":", true);
      if (length < 0) return ScanFailed(c, length, "ERRPVAR_17");
      if (length == 0) return Fail(c, "ERRPVAR_LANGIDEXPECTED");
      if (static_cast<size_t>(length) > kMaxDescriptionLen) {
        return Fail(c, "ERRPVAR_LANGIDTOOLONG");
      }
      const LangId id = LanguageIdFromName(language);
      if (id == kLangNeutral) return Fail(c, "ERRPVAR_LANGIDNOTFOUND");
      const int32_t code = ScanDelimiter(&c, ":");
      if (code < 0) return ScanFailed(c, code, "ERRPVAR_29");
      char text[kMaxDescriptionLen + 1] = "";
      length = ScanString(&c, text, sizeof text, ",", true);
      if (length < 0 && length != kScanEndOfText) return ScanFailed(c, length, "ERRPVAR_17");
      if (length > 0 && static_cast<size_t>(length) > kMaxDescriptionLen) {
        return Fail(c, "ERRPVAR_TRANSLTOOLONG");
      }
      row.tr[entries].lang = id;
      row.tr[entries].text = Keep(text);
      ++entries;
      if (*c.position != ',') break;
      ScanDelimiter(&c, ",");
    }
    if (def_->macros.size() >= kMaxMacroRows) return Fail(c, "ERRMEMORY");
    row.msgId = Keep(name);
    def_->macros.push_back(row);
    return true;
  }

  // A copy of the text owned by the ParDef.
  const char* Keep(const char* text) {
    const size_t n = std::strlen(text);
    std::unique_ptr<char[]> copy(new char[n + 1]);
    std::memcpy(copy.get(), text, n + 1);
    def_->texts.push_back(std::move(copy));
    return def_->texts.back().get();
  }

  std::string MissingMacro(const PVar& record) const {
    if (Untranslated(record.name)) return record.name;
    if (Untranslated(record.description)) return record.description;
    for (const PState& state : record.states) {
      if (Untranslated(state.name)) return state.name;
    }
    return std::string();
  }

  bool Untranslated(const char* text) const {
    return IsMacro(text) &&
           TableText(def_->macros.data(), def_->macros.size(), 0, 0, text) == nullptr;
  }

  ParDef* def_;
};

// The message box text for an error on a line (line 0: after both passes).
std::string BoxText(const std::string& message, uint64_t line, const char* position) {
  if (line == 0) return message;
  std::string text = message + "\n" + MsgText("PARDEF_LINE") + ": " + std::to_string(line) + ", ";
  if (position == nullptr || *position == '\0') return text + "'\\NUL'";
  return text + "'" + *position + "'";
}

// One pass over the text; the error box text when it failed, empty otherwise.
std::string RunPass(std::istream& in, Parser& parser, int pass) {
  LineReader reader(in);
  std::string line;
  while (reader.Next(line)) {
    if (line == kEndMarker) break;
    ScanCursor cursor{line.c_str(), nullptr};
    if (!parser.ParseLine(cursor, pass)) {
      const char* message = cursor.error != nullptr ? cursor.error : MsgText("ERRPVAR_INTERN");
      return BoxText(message, reader.LineCount(), cursor.position);
    }
  }
  return std::string();
}

std::string Parse(std::istream& in, ParDef* def) {
  const std::streampos start = in.tellg();
  if (start == std::streampos(-1)) return MsgText("ERRPVAR_INTERN");
  Parser parser(def);
  std::string error = RunPass(in, parser, 1);
  if (error.empty()) {
    in.clear();
    in.seekg(start);
    error = in ? RunPass(in, parser, 2) : std::string(MsgText("ERRPVAR_INTERN"));
  }
  SortAndCheckTable(def->macros.data(), def->macros.size());
  if (error.empty()) error = parser.CheckReferencesAndMacros();
  return error;
}

}  // namespace

bool IsTextSettingName(const char* name) {
  if (name == nullptr) return false;
  return std::strcmp(name, "[DUT]") == 0 || std::strcmp(name, "[DUT_DisplayAs]") == 0 ||
         std::strcmp(name, "[Baudrate]") == 0;
}

std::unique_ptr<ParDef> ParseDefinition(std::istream& in) {
  std::string error;
  std::unique_ptr<ParDef> def;
  try {
    def = std::make_unique<ParDef>();
    error = Parse(in, def.get());
  } catch (const std::bad_alloc&) {
    error = MsgText("ERRMEMORY");
  }
  if (error.empty()) return def;
  def.reset();
  try {
    ShowMessage(MsgKind::Error, error, MsgText("PARDEF_OPEN"), MsgOwner::MainWindow);
  } catch (const std::bad_alloc&) {
    ShowMessage(MsgKind::Error, MsgText("ERRMEMORY"), MsgText("PARDEF_OPEN"), MsgOwner::MainWindow);
  }
  return nullptr;
}

std::unique_ptr<ParDef> ParseDefinitionText(std::string_view text) {
  std::istringstream in{std::string(text)};
  return ParseDefinition(in);
}

void DiscardDefinition(std::unique_ptr<ParDef>& def) {
  def.reset();
}

}  // namespace lumo
