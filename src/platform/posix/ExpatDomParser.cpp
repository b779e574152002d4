// The tree builder: expat parses without its namespace processing, so that
// declarations stay ordinary attributes in the order parsed, and prefixes
// are resolved here. Documents with a document type declaration are
// refused before any of it is read, so no entity is ever declared, expanded
// or fetched beyond the predefined ones and character references.
#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <random>

#include "platform/CodePage.h"
#include "platform/posix/ExpatDom.h"

namespace delvan::platform::posix {

namespace {

// Error codes of our own, above expat's.
constexpr std::int32_t kErrDoctype = 1001;
constexpr std::int32_t kErrTooDeep = 1002;
constexpr std::int32_t kErrNamespace = 1003;

// expat hands out UTF-8. Characters of up to three bytes (ASCII and the
// scripts of the messages) are decoded here straight into out, which
// keeps its room for the next text; anything else goes through the
// code-page layer.
void Widen(std::string_view utf8, UnicodeString& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* const end = p + utf8.size();
  // ASCII, the most of a message, is told by one sweep the compiler widens
  // and copied in one more.
  unsigned char high = 0;
  for (const auto* q = p; q < end; ++q) high |= *q;
  if (high < 0x80) {
    // Not assign(p, end): that builds the text in a string of its own first.
    out.resize(utf8.size());
    std::copy(p, end, out.data());
    return;
  }
  out.resize(utf8.size());  // never more units than bytes
  char16_t* d = out.data();
  auto tail = [&](std::size_t k) { return (p[k] & 0xC0) == 0x80; };
  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      *d++ = c;
      ++p;
    } else if (c >= 0xC2 && c < 0xE0 && end - p >= 2 && tail(1)) {
      *d++ = static_cast<char16_t>((c & 0x1F) << 6 | (p[1] & 0x3F));
      p += 2;
    } else if (c >= 0xE0 && c < 0xF0 && end - p >= 3 && tail(1) && tail(2)) {
      const char16_t u =
          static_cast<char16_t>((c & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
      if (u < 0x800 || (u >= 0xD800 && u <= 0xDFFF)) {
        out = platform::MultiByteToWideChar(CP_UTF8, 0, utf8);
        return;
      }
      *d++ = u;
      p += 3;
    } else {
      out = platform::MultiByteToWideChar(CP_UTF8, 0, utf8);
      return;
    }
  }
  out.resize(static_cast<std::size_t>(d - out.data()));
}
UnicodeString Widen(std::string_view utf8) {
  UnicodeString out;
  Widen(utf8, out);
  return out;
}
UnicodeString Widen(const XML_Char* utf8) { return Widen(std::string_view(utf8 ? utf8 : "")); }

// The code page behind an encoding name that expat does not know itself.
TCodePage ExtraEncoding(std::string_view name) {
  auto is = [&](std::string_view known) {
    return name.size() == known.size() &&
           std::equal(name.begin(), name.end(), known.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
  };
  if (is("windows-1253")) return CP_GREEK;
  if (is("windows-1252")) return CP_LATIN1;
  if (is("iso-8859-7")) return CP_ISO_8859_7;
  return 0;
}

int XMLCALL UnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
  TCodePage cp = ExtraEncoding(name ? name : "");
  if (!cp) return XML_STATUS_ERROR;
  for (int b = 0; b < 256; ++b) {
    if (b < 0x80) {
      info->map[b] = b;
      continue;
    }
    char byte = static_cast<char>(b);
    std::u16string u = platform::MultiByteToWideChar(cp, 0, std::string_view(&byte, 1));
    info->map[b] = (u.size() == 1 && u[0] != u'\uFFFD') ? u[0] : -1;
  }
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  return XML_STATUS_OK;
}

// The parser of this thread, kept between documents: creating and freeing
// expat's parser, its tables, buffers and tag stack, costs about as much as
// the parse of a short message. XML_ParserReset gives it back in the state
// of a new one (handlers, options and limits at their defaults).
// A prefix in scope and the URI it is bound to.
struct TBinding {
  UnicodeString Prefix;
  TXAtom URI;
};

// The tree builder's working lists, kept with the parser for their
// capacity; emptied after every document.
struct TParseScratch {
  std::vector<TXNode*> Open;  // the document, then the open elements
  std::vector<TBinding> Bindings;
  std::vector<std::size_t> Scopes;  // Bindings size at each open element
  std::string Text;                 // pending character data, UTF-8
  UnicodeString Wide;               // a text or attribute value, widened
  // Scratch of the start tag: the attributes being made and the namespace
  // and local name of each prefixed one.
  std::vector<TXNode*> Attrs;
  std::vector<std::pair<UnicodeStringView, UnicodeStringView>> Qualified;
  void Clear() {
    ClearScratch(Open);
    ClearScratch(Bindings);
    ClearScratch(Scopes);
    ClearScratch(Text);
    ClearScratch(Wide);
    ClearScratch(Attrs);
    ClearScratch(Qualified);
  }
};

// The memory of the thread's parser. At every reset expat frees its table
// of element names (an entry per name) and makes it again in the next
// document; the blocks it frees are kept here for that, in classes of 64
// to 4096 bytes and up to kKeepScratchBytes in all, and the rest go back
// to the heap. Used by the thread's own parser only, on its thread.
class TParserMemory {
 public:
  TParserMemory() = default;
  TParserMemory(const TParserMemory&) = delete;
  TParserMemory& operator=(const TParserMemory&) = delete;
  ~TParserMemory() {
    for (TFree*& list : FFree)
      while (list) {
        TFree* next = list->Next;
        std::free(list);
        list = next;
      }
  }

  // The suite of the thread's parser: its functions reach the memory of
  // the thread that calls them.
  static const XML_Memory_Handling_Suite* Suite() {
    static const XML_Memory_Handling_Suite suite{Malloc, Realloc, Free};
    return &suite;
  }
  static TParserMemory*& Mine() {
    thread_local TParserMemory* mine = nullptr;
    return mine;
  }

 private:
  // Ahead of every block: its class, or its size when it has none.
  struct alignas(std::max_align_t) THeader {
    std::size_t Class;
    std::size_t Bytes;  // usable bytes after the header
  };
  struct TFree {
    TFree* Next;
  };
#ifdef __SANITIZE_ADDRESS__
  static constexpr bool kSanitized = true;
#else
  static constexpr bool kSanitized = false;
#endif
  static constexpr std::size_t kClasses = 7;  // 64 << 0 .. 64 << 6
  static constexpr std::size_t kNone = kClasses;
  static constexpr std::size_t ClassBytes(std::size_t c) { return std::size_t{64} << c; }

  static void* Malloc(std::size_t size) {
    TParserMemory& m = *Mine();
    const std::size_t whole = size + sizeof(THeader);
    std::size_t c = 0;
    while (c < kClasses && ClassBytes(c) < whole) ++c;
    void* block;
    if (c < kClasses && m.FFree[c]) {
      block = m.FFree[c];
      m.FFree[c] = m.FFree[c]->Next;
      m.FKept -= ClassBytes(c);
    } else {
      block = std::malloc(c < kClasses ? ClassBytes(c) : whole);
      if (!block) return nullptr;
    }
    auto* h = static_cast<THeader*>(block);
    h->Class = c;
    h->Bytes = (c < kClasses ? ClassBytes(c) : whole) - sizeof(THeader);
    return h + 1;
  }
  static void Free(void* p) {
    if (!p) return;
    TParserMemory& m = *Mine();
    THeader* h = static_cast<THeader*>(p) - 1;
    const std::size_t c = h->Class;
    // The sanitizer build frees every block, so that a use after free in
    // the parser's memory is still caught.
    if (kSanitized || c == kNone || m.FKept + ClassBytes(c) > kKeepScratchBytes) {
      std::free(h);
      return;
    }
    auto* f = reinterpret_cast<TFree*>(h);
    f->Next = m.FFree[c];
    m.FFree[c] = f;
    m.FKept += ClassBytes(c);
  }
  static void* Realloc(void* p, std::size_t size) {
    if (!p) return Malloc(size);
    const THeader* h = static_cast<THeader*>(p) - 1;
    if (size <= h->Bytes) return p;
    void* q = Malloc(size);
    if (!q) return nullptr;  // p stays, as realloc leaves it
    std::memcpy(q, p, h->Bytes);
    Free(p);
    return q;
  }

  TFree* FFree[kClasses] = {};
  std::size_t FKept = 0;  // bytes on the lists
};

struct TThreadParser {
  TParserMemory Memory;  // outlives Parser, whose memory it holds
  XML_Parser Parser = nullptr;
  TParseScratch Scratch;
  bool Busy = false;
  TThreadParser() { TParserMemory::Mine() = &Memory; }
  TThreadParser(const TThreadParser&) = delete;
  TThreadParser& operator=(const TThreadParser&) = delete;
  ~TThreadParser() {
    if (Parser) XML_ParserFree(Parser);
  }
};

// Names as expat hands them over, found by their bytes: the atom of each,
// and the namespace an element of that name resolved to under the bindings
// of one generation. Every change of the bindings in scope, and every new
// parse, takes a generation never used before, so an answer is only taken
// under the bindings it was found with; parses on one thread, one inside
// another too, may share the cache. Fixed in size: 64 sets of 2 names of up
// to 47 bytes; longer names are not kept.
class TNameCache {
 public:
  static constexpr std::size_t kMaxBytes = 47;
  struct TSlot {
    TXAtom Name;
    TXAtom URI;                    // an element's namespace, when Generation is current
    std::uint64_t Generation = 0;  // 0: not resolved
    std::uint8_t Size = 0;         // 0: empty
    std::uint8_t Hits = 0;
    char Bytes[kMaxBytes];

    // A name met again and again, in one message or from one message to
    // the next, is one every message uses: its texts are kept for good,
    // and copying them into a node no longer counts.
    void Seen() {
      if (UsedOftenEnough(Hits)) {
        Name.MakePermanent();
        URI.MakePermanent();
      }
    }
  };

  static TNameCache& Mine() {
    thread_local TNameCache cache;
    return cache;
  }
  std::uint64_t NewGeneration() { return ++FGenerations; }

  // The slot of name (size bytes), made on a miss with its atom and no
  // namespace; null for a name too long to keep. Valid until the next call.
  TSlot* Find(const char* name, std::size_t size, TXAtom (*atom)(std::string_view)) {
    if (size == 0 || size > kMaxBytes) return nullptr;
    TSlot* set = FSlots + 2 * Set(name, size);
    for (int w = 0; w < 2; ++w)
      if (set[w].Size == size && std::memcmp(set[w].Bytes, name, size) == 0) return &set[w];
    // The newer name goes first, the older one is kept beside it.
    std::swap(set[0], set[1]);
    TSlot& s = set[0];
    s.Name = atom(std::string_view(name, size));
    s.URI = TXAtom();
    s.Generation = 0;
    s.Hits = 0;
    s.Size = static_cast<std::uint8_t>(size);
    std::memcpy(s.Bytes, name, size);
    return &s;
  }

 private:
  static constexpr std::size_t kSetBits = 6;
  // The length, and the last eight bytes and eight from the middle, where
  // the names of one message differ.
  static std::size_t Set(const char* p, std::size_t n) {
    std::uint64_t h = (n + 1) * 0x9E3779B97F4A7C15u;
    if (n >= 8) {
      std::uint64_t a, b;
      std::memcpy(&a, p + n - 8, 8);
      std::memcpy(&b, p + (n - 8) / 2, 8);
      h = (h ^ a) * 0xFF51AFD7ED558CCDu;
      h = (h ^ b) * 0xC4CEB9FE1A85EC53u;
    } else {
      for (std::size_t i = 0; i < n; ++i)
        h = (h ^ static_cast<unsigned char>(p[i])) * 0xFF51AFD7ED558CCDu;
    }
    h ^= h >> 29;
    return static_cast<std::size_t>((h * 0x9E3779B97F4A7C15u) >> (64 - kSetBits));
  }

  TSlot FSlots[2 << kSetBits];
  std::uint64_t FGenerations = 0;
};

// Inputs above this size are parsed by a parser of their own: the parser
// keeps a copy of its input, and the lists grow with it, which a thread
// should not hold on to.
constexpr std::size_t kKeepParserBelow = 64 * 1024;

// The first piece of an input handed to expat at a time; later pieces grow
// with what went before.
constexpr std::size_t kFirstPiece = 64 * 1024;

// A new hash salt for every parse, from a generator each thread seeds once
// from the system's entropy: left to itself, expat asks the system for
// entropy (a system call) at every parse. The salts are never shown, so a
// sender still cannot aim its names at one hash slot.
unsigned long NextHashSalt() {
  thread_local std::uint64_t state = [] {
    std::random_device entropy;
    return (std::uint64_t{entropy()} << 32) ^ entropy();
  }();
  std::uint64_t z = (state += 0x9E3779B97F4A7C15u);  // splitmix64
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  z ^= z >> 31;
  return static_cast<unsigned long>(z) | 1;  // 0 would let expat make its own
}

// A parser for one document, with the tree builder's scratch lists: the
// thread's own when they are free (a parse
// inside a parse on one thread gets a new one), freed instead of kept
// when an exception went through it, since expat's state is then unknown.
class TParserLease {
 public:
  TParserLease(const char* encoding, std::size_t inputSize)
      : FExceptions(std::uncaught_exceptions()) {
    thread_local TThreadParser mine;
    if (!mine.Busy && inputSize < kKeepParserBelow) {
      if (mine.Parser && !XML_ParserReset(mine.Parser, encoding)) {
        XML_ParserFree(mine.Parser);
        mine.Parser = nullptr;
      }
      if (!mine.Parser)
        mine.Parser = XML_ParserCreate_MM(encoding, TParserMemory::Suite(), nullptr);
      if (!mine.Parser) throw DOMException(u"Out of memory");
      XML_SetHashSalt(mine.Parser, NextHashSalt());
      mine.Busy = true;
      FThread = &mine;
      FParser = mine.Parser;
      FScratch = &mine.Scratch;
      return;
    }
    FParser = XML_ParserCreate(encoding);
    if (!FParser) throw DOMException(u"Out of memory");
    XML_SetHashSalt(FParser, NextHashSalt());
  }
  TParserLease(const TParserLease&) = delete;
  TParserLease& operator=(const TParserLease&) = delete;
  ~TParserLease() {
    if (!FThread) {
      XML_ParserFree(FParser);
      return;
    }
    FThread->Busy = false;
    if (std::uncaught_exceptions() > FExceptions) {
      XML_ParserFree(FThread->Parser);
      FThread->Parser = nullptr;
    }
  }
  XML_Parser Parser() const { return FParser; }
  TParseScratch& Scratch() { return *FScratch; }

 private:
  XML_Parser FParser = nullptr;
  TThreadParser* FThread = nullptr;
  TParseScratch FOwn;  // the scratch of a parser of its own
  TParseScratch* FScratch = &FOwn;
  int FExceptions;
};

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class TTreeBuilder {
 public:
  TTreeBuilder(TXNode& doc, bool preserveWhiteSpace, TXParseError& error, TParserLease& lease)
      : FDoc(doc),
        FPreserveWhiteSpace(preserveWhiteSpace),
        FError(error),
        FParser(lease.Parser()),
        FScratch(lease.Scratch()),
        FNames(TNameCache::Mine()),
        FGeneration(FNames.NewGeneration()) {
    // The lists are the scratch's, held here while the document is built
    // (members are reached more cheaply than through references).
    FScratch.Clear();
    SwapScratch();
    // Room for a message's depth and bindings at once, not grown step by step.
    FOpen.reserve(32);
    FScopes.reserve(32);
    FBindings.reserve(16);
    FAttrs.reserve(8);
    FQualified.reserve(8);
    FText.reserve(256);
    FWide.reserve(256);
    FOpen.push_back(&doc);
  }

  TTreeBuilder(const TTreeBuilder&) = delete;
  TTreeBuilder& operator=(const TTreeBuilder&) = delete;
  ~TTreeBuilder() {
    SwapScratch();
    FScratch.Clear();
  }

  // Takes the scratch's lists for the builder's own, or gives them back.
  void SwapScratch() {
    FOpen.swap(FScratch.Open);
    FBindings.swap(FScratch.Bindings);
    FScopes.swap(FScratch.Scopes);
    FText.swap(FScratch.Text);
    FWide.swap(FScratch.Wide);
    FAttrs.swap(FScratch.Attrs);
    FQualified.swap(FScratch.Qualified);
  }

  bool Run(std::string_view bytes) {
    XML_Parser p = FParser;
    // A reset parser has lost every handler and option: all are set anew.
    XML_SetUserData(p, this);
    XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetUnknownEncodingHandler(p, UnknownEncoding, nullptr);
    XML_SetXmlDeclHandler(p, [](void* u, const XML_Char* v, const XML_Char* e, int s) {
      static_cast<TTreeBuilder*>(u)->XmlDecl(v, e, s);
    });
    XML_SetStartDoctypeDeclHandler(
        p, [](void* u, const XML_Char*, const XML_Char*, const XML_Char*, int) {
          static_cast<TTreeBuilder*>(u)->Fail(kErrDoctype,
                                              u"A document type declaration is not allowed");
        });
    XML_SetElementHandler(
        p,
        [](void* u, const XML_Char* n, const XML_Char** a) {
          static_cast<TTreeBuilder*>(u)->Start(n, a);
        },
        [](void* u, const XML_Char*) { static_cast<TTreeBuilder*>(u)->End(); });
    XML_SetCharacterDataHandler(p, [](void* u, const XML_Char* s, int len) {
      static_cast<TTreeBuilder*>(u)->FText.append(s, static_cast<std::size_t>(len));
    });
    XML_SetCdataSectionHandler(
        p, [](void* u) { static_cast<TTreeBuilder*>(u)->StartCData(); },
        [](void* u) { static_cast<TTreeBuilder*>(u)->EndCData(); });
    XML_SetCommentHandler(p, [](void* u, const XML_Char* d) {
      auto* b = static_cast<TTreeBuilder*>(u);
      b->Flush();
      b->Append(b->NewText(COMMENT_NODE, d ? d : ""));
    });
    XML_SetProcessingInstructionHandler(p, [](void* u, const XML_Char* t, const XML_Char* d) {
      static_cast<TTreeBuilder*>(u)->PI(t, d);
    });

    bool ok = true;
    std::size_t done = 0;
    do {
      // expat copies every piece into its own buffer, so a long input goes
      // in pieces: the buffer stays small instead of a second copy of the
      // whole input. expat rescans a token that spans pieces at every piece,
      // so each piece is at least an eighth of what went before: a long
      // token costs a bounded number of rescans of itself, and the pieces
      // of a long input number in the tens.
      const std::size_t piece = std::max<std::size_t>(kFirstPiece, done / 8);
      std::size_t n = std::min<std::size_t>({bytes.size() - done, piece, INT_MAX});
      bool last = done + n == bytes.size();
      if (XML_Parse(p, bytes.data() + done, static_cast<int>(n), last) != XML_STATUS_OK) {
        ok = false;
        break;
      }
      done += n;
    } while (done < bytes.size());
    if (!ok) {
      if (!FFailed) {
        XML_Error code = XML_GetErrorCode(p);
        Record(static_cast<std::int32_t>(code), Widen(XML_ErrorString(code)));
      }
      FError.SrcText = LineText(
          bytes, static_cast<std::size_t>(std::max<XML_Index>(0, XML_GetCurrentByteIndex(p))));
    }
    return ok;
  }

 private:
  // The shared atom of a name or URI as expat hands it over: short ASCII
  // text is widened on the stack, so a name seen before costs no allocation.
  static TXAtom Atom(std::string_view utf8) {
    char16_t buffer[128];
    if (utf8.size() <= std::size(buffer)) {
      std::size_t n = 0;
      for (unsigned char c : utf8) {
        if (c >= 0x80) break;
        buffer[n++] = c;
      }
      if (n == utf8.size()) return SharedAtom(UnicodeStringView(buffer, n));
    }
    return SharedAtom(Widen(utf8));
  }

  void Fail(std::int32_t code, UnicodeString reason) {
    if (FFailed) return;
    Record(code, std::move(reason));
    FFailed = true;
    XML_StopParser(FParser, XML_FALSE);
  }

  void Record(std::int32_t code, UnicodeString reason) {
    FError.ErrorCode = code;
    FError.Reason = std::move(reason);
    FError.Line = static_cast<std::int32_t>(XML_GetCurrentLineNumber(FParser));
    FError.LinePos = static_cast<std::int32_t>(XML_GetCurrentColumnNumber(FParser)) + 1;
    // The file position is the byte offset into the input.
    FError.FilePos = static_cast<std::int32_t>(
        std::min<XML_Index>(INT_MAX, std::max<XML_Index>(0, XML_GetCurrentByteIndex(FParser))));
  }

  // The text of the line that holds byte offset at, in the document's
  // encoding as far as it is known.
  UnicodeString LineText(std::string_view bytes, std::size_t at) const {
    at = std::min(at, bytes.size());
    const bool le = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                    static_cast<unsigned char>(bytes[1]) == 0xFE;
    const bool be = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
                    static_cast<unsigned char>(bytes[1]) == 0xFF;
    if (le || be) {
      auto unit = [&](std::size_t i) -> char16_t {
        unsigned char a = static_cast<unsigned char>(bytes[i]);
        unsigned char b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char16_t>(le ? (b << 8 | a) : (a << 8 | b));
      };
      std::size_t begin = (at & ~std::size_t{1});
      while (begin >= 4 && unit(begin - 2) != u'\n') begin -= 2;
      if (begin < 2) begin = 2;
      std::size_t end = begin;
      while (end + 1 < bytes.size() && unit(end) != u'\n' && unit(end) != u'\r') end += 2;
      UnicodeString line;
      for (std::size_t i = begin; i < end; i += 2) line.push_back(unit(i));
      return line;
    }
    std::size_t begin = at;
    while (begin > 0 && bytes[begin - 1] != '\n') --begin;
    std::size_t end = at;
    while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
    TCodePage cp = CP_UTF8;
    if (FEncoding == "ISO-8859-1" || FEncoding == "iso-8859-1") cp = CP_ISO_8859_1;
    if (TCodePage extra = ExtraEncoding(FEncoding)) cp = extra;
    return platform::MultiByteToWideChar(cp, 0, bytes.substr(begin, end - begin));
  }

  // Adds node to the open element; pending text is flushed by the caller.
  void Append(TXNode* node) {
    TXNode* parent = FOpen.back();
    UnfoldText(parent);  // a text before this child is a node of its own
    node->FParent = parent;
    node->FIndexHint = parent->FChildren.size();
    AppendParsed(&FDoc, parent->FChildren, node);
  }

  // A new text node of type holding utf8, widened into the arena.
  TXNode* NewText(std::uint16_t type, std::string_view utf8) {
    Widen(utf8, FWide);
    TXNode* node = NewCharacterData(&FDoc, type, {});
    SetParsedValue(&FDoc, node, FWide);
    return node;
  }

  // Turns the pending character data into a text node; white space alone
  // is dropped unless asked to keep it. The text that comes first in an
  // element is folded into it (in the arena, as a text node's would be):
  // the node is made only if another child follows or someone asks.
  void Flush() {
    if (!FText.empty()) FlushText();
  }
  void FlushText() {
    // FText keeps its capacity for the next run of character data.
    if (FPreserveWhiteSpace || !std::all_of(FText.begin(), FText.end(), IsXmlSpace)) {
      TXNode* parent = FOpen.back();
      if (parent->IsElement() && parent->FChildren.empty() && !parent->FFoldedText) {
        Widen(FText, FWide);
        SetParsedValue(&FDoc, parent, FWide);
        parent->FFoldedText = true;
      } else {
        Append(NewText(TEXT_NODE, FText));
      }
    }
    FText.clear();
  }

  void XmlDecl(const XML_Char* version, const XML_Char* encoding, int standalone) {
    if (!version) return;  // a text declaration, not ours
    // Built in place: one allocation for the whole text.
    UnicodeString data;
    data.reserve(64);
    data += u"version=\"";
    data += Widen(version);
    data += u'"';
    if (encoding) {
      FEncoding = encoding;
      data += u" encoding=\"";
      data += Widen(encoding);
      data += u'"';
    }
    if (standalone >= 0) data += standalone ? u" standalone=\"yes\"" : u" standalone=\"no\"";
    Append(NewProcessingInstruction(&FDoc, u"xml", std::move(data)));
  }

  void PI(const XML_Char* target, const XML_Char* data) {
    Flush();
    UnicodeString t = Widen(target);
    if (t.find(u':') != UnicodeString::npos)
      return Fail(kErrNamespace, u"A processing instruction target may not contain a colon");
    Append(NewProcessingInstruction(&FDoc, std::move(t), Widen(data)));
  }

  void StartCData() {
    Flush();
    FInCData = true;
  }

  void EndCData() {
    TXNode* section = NewText(CDATA_SECTION_NODE, FText);
    FText.clear();
    FInCData = false;
    Append(section);
  }

  // The URI bound to prefix in scope; null when unbound (the default
  // namespace, prefix empty, is never unbound: it may be empty).
  const TXAtom* Lookup(UnicodeStringView prefix) const {
    for (auto it = FBindings.rbegin(); it != FBindings.rend(); ++it)
      if (it->Prefix == prefix) return &it->URI;
    return prefix.empty() ? &kNoNamespace : nullptr;
  }

  void Start(const XML_Char* name, const XML_Char** atts) {
    if (FFailed) return;
    Flush();
    if (FOpen.size() > kMaxParseDepth)
      return Fail(kErrTooDeep, u"Elements are nested more deeply than " +
                                   rtl::IntToStr(static_cast<std::int64_t>(kMaxParseDepth)) +
                                   u" levels");
    FScopes.push_back(FBindings.size());
    // Most elements of a message have no attributes: no declarations to
    // take, no duplicates to look for.
    if (atts && *atts) return StartWithAttributes(name, atts);
    if (TXNode* element = MakeElement(name)) Open(element);
  }

  void Open(TXNode* element) {
    Append(element);
    FOpen.push_back(element);
  }

  // The element named name in its namespace under the bindings in scope;
  // null (and the parse stopped) when the name is not valid or its prefix
  // unbound. A name seen before under the same bindings is answered by the
  // name cache alone.
  TXNode* MakeElement(const XML_Char* name) {
    const std::size_t size = std::strlen(name);
    TNameCache::TSlot* slot = FNames.Find(name, size, Atom);
    if (slot) slot->Seen();
    if (slot && slot->Generation == FGeneration) return NewElement(&FDoc, slot->Name, slot->URI);
    const TXAtom ename = slot ? slot->Name : Atom(std::string_view(name, size));
    if (!ename.NamespaceWellFormed()) {
      Fail(kErrNamespace, u"The name '" + ename.str() + u"' is not valid with namespaces");
      return nullptr;
    }
    TXNode* element = NewElement(&FDoc, ename, {});
    if (!Resolve(element)) {
      FreeTree(element);
      return nullptr;
    }
    if (slot) {
      slot->URI = element->FNamespaceURI;
      slot->Generation = FGeneration;
    }
    return element;
  }

  // The atom of an attribute's name, from the name cache when it fits.
  TXAtom AttributeName(const XML_Char* name) {
    const std::size_t size = std::strlen(name);
    if (TNameCache::TSlot* slot = FNames.Find(name, size, Atom)) return slot->Name;
    return Atom(std::string_view(name, size));
  }

  void StartWithAttributes(const XML_Char* name, const XML_Char** atts) {
    std::vector<TXNode*>& attrs = FAttrs;
    struct Discard {
      std::vector<TXNode*>& a;
      ~Discard() {
        for (TXNode* n : a) FreeTree(n);
        a.clear();
      }
    } discard{attrs};
    for (const XML_Char** a = atts; *a; a += 2) {
      const TXAtom aname = AttributeName(a[0]);
      Widen(a[1] ? a[1] : "", FWide);
      const UnicodeStringView value = FWide;
      if (!aname.NamespaceWellFormed())
        return Fail(kErrNamespace, u"The name '" + aname.str() + u"' is not valid with namespaces");
      if (aname == u"xmlns" || aname.str().starts_with(u"xmlns:")) {
        UnicodeString prefix = aname.size() > 5 ? aname.str().substr(6) : UnicodeString();
        if (prefix == u"xmlns" || (prefix == u"xml") != (value == kXMLNamespaceURI) ||
            value == kXMLNSNamespaceURI || (!prefix.empty() && value.empty()))
          return Fail(kErrNamespace, u"Invalid namespace declaration '" + aname.str() + u"'");
        FBindings.push_back({prefix, SharedAtom(value)});
        FGeneration = FNames.NewGeneration();
      }
      TXNode* attr = NewAttribute(&FDoc, aname, {}, {});
      attrs.push_back(attr);
      SetParsedValue(&FDoc, attr, value);
    }
    TXNode* element = MakeElement(name);
    if (!element) return;
    struct Guard {
      TXNode* n;
      ~Guard() {
        if (n) FreeTree(n);
      }
    } guard{element};
    auto& qualified = FQualified;
    qualified.clear();
    for (TXNode* a : attrs) {
      if (a->FNamespaceURI.empty() && a->FColon != TXNode::npos) {
        if (!Resolve(a)) return;
        qualified.emplace_back(a->FNamespaceURI, a->LocalName());
      }
    }
    if (qualified.size() > 1) {
      std::sort(qualified.begin(), qualified.end());
      if (std::adjacent_find(qualified.begin(), qualified.end()) != qualified.end())
        return Fail(kErrNamespace, u"An attribute appears twice in one namespace");
    }
    for (TXNode* a : attrs) {
      a->FParent = element;
      a->FIndexHint = element->FAttributes.size();
      AppendParsed(&FDoc, element->FAttributes, a);
    }
    attrs.clear();
    guard.n = nullptr;
    Open(element);
  }

  // Sets the namespace of a prefixed element or attribute, or of an
  // unprefixed element; false (and the parse stopped) when unbound.
  bool Resolve(TXNode* node) {
    UnicodeStringView prefix = node->Prefix();
    if (prefix == u"xml") {
      static const TXAtom xml{UnicodeString(kXMLNamespaceURI)};
      node->FNamespaceURI = xml;
      return true;
    }
    const TXAtom* uri = Lookup(prefix);
    if (!uri) {
      Fail(kErrNamespace,
           u"Reference to undeclared namespace prefix: '" + UnicodeString(prefix) + u"'");
      return false;
    }
    node->FNamespaceURI = *uri;
    return true;
  }

  void End() {
    if (FFailed) return;
    Flush();
    FOpen.pop_back();
    if (FBindings.size() != FScopes.back()) {
      FBindings.resize(FScopes.back());
      FGeneration = FNames.NewGeneration();
    }
    FScopes.pop_back();
  }

  static inline const TXAtom kNoNamespace;

  TXNode& FDoc;
  bool FPreserveWhiteSpace;
  TXParseError& FError;
  XML_Parser FParser;
  TParseScratch& FScratch;
  TNameCache& FNames;
  std::uint64_t FGeneration;  // of the bindings in scope
  // The lists of the scratch (see TParseScratch), given back at the end.
  std::vector<TXNode*> FOpen;
  std::vector<TBinding> FBindings;
  std::vector<std::size_t> FScopes;
  std::string FText;
  UnicodeString FWide;
  std::vector<TXNode*> FAttrs;
  std::vector<std::pair<UnicodeStringView, UnicodeStringView>> FQualified;
  std::string FEncoding;  // as the declaration names it
  bool FInCData = false;
  bool FFailed = false;
};

}  // namespace

bool ParseDocument(TXNode& doc, std::string_view bytes, const char* forcedEncoding,
                   bool preserveWhiteSpace, TXParseError& error) {
  bool ok;
  {
    TParserLease lease(forcedEncoding, bytes.size());
    TTreeBuilder builder(doc, preserveWhiteSpace, error, lease);
    ok = builder.Run(bytes);
  }
  if (!ok)
    while (!doc.FChildren.empty()) Orphan(doc.FChildren.back());
  return ok;
}

}  // namespace delvan::platform::posix
