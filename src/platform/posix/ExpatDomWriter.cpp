// The serialiser: writes the tree as it is, escaping text and attribute
// values, and adds a namespace declaration on an element only where the
// declarations in scope would not put a namespace-aware reader in the
// element's (or a prefixed attribute's) namespace.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "platform/CodePage.h"
#include "platform/posix/ExpatDom.h"

namespace delvan::platform::posix {

namespace {

// Which characters the output encoding can carry; the others are written
// as character references where XML allows them.
class TRepertoire {
 public:
  TRepertoire() = default;  // everything (UTF-8, UTF-16)
  explicit TRepertoire(TCodePage cp) : FAll(false) {
    if (cp == CP_US_ASCII) return;
    if (cp == CP_ISO_8859_1) {
      FLatin1 = true;
      return;
    }
    for (int b = 0x80; b < 0x100; ++b) {
      char byte = static_cast<char>(b);
      std::u16string u = platform::MultiByteToWideChar(cp, 0, std::string_view(&byte, 1));
      if (u.size() == 1 && u[0] != u'\uFFFD') FUpper.push_back(u[0]);
    }
    std::sort(FUpper.begin(), FUpper.end());
  }
  bool All() const { return FAll; }
  bool Has(char16_t c) const {
    if (FAll || c < 0x80) return true;
    if (FLatin1) return c < 0x100;
    return std::binary_search(FUpper.begin(), FUpper.end(), c);
  }

 private:
  bool FAll = true;
  bool FLatin1 = false;
  std::vector<char16_t> FUpper;
};

constexpr char16_t kHex[] = u"0123456789ABCDEF";

constexpr std::uint64_t Bit(char16_t c) { return std::uint64_t{1} << c; }

// Whether two prefixes or URIs are the same text: the same shared atom at
// once, others by their bytes (the character traits compare one by one).
bool Same(UnicodeStringView a, UnicodeStringView b) {
  return a.size() == b.size() &&
         (a.data() == b.data() || a.empty() ||
          std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

struct TBinding {
  UnicodeStringView Prefix;
  UnicodeStringView URI;
};

struct TFrame {
  TXNode* Node;
  std::size_t Next;
};

// The writer's lists, and its output when it is only converted, kept per
// thread for their capacity (up to kKeepScratchBytes each); empty between
// documents.
struct TWriterScratch {
  UnicodeString Out;
  std::vector<TBinding> Bindings;
  std::vector<std::size_t> Scopes;
  std::vector<TFrame> Frames;
  std::vector<TXNode*> Pending;
  bool Busy = false;
};

class TWriter {
 public:
  // keepOutput: FOut is only read before the writer goes, and may have
  // the capacity of an earlier document.
  TWriter(const TRepertoire& repertoire, bool keepOutput) : FRepertoire(repertoire) {
    thread_local TWriterScratch scratch;
    if (!scratch.Busy) {
      scratch.Busy = true;
      FScratch = &scratch;
      FKeepOutput = keepOutput;
      if (keepOutput) FOut.swap(scratch.Out);
      FBindings.swap(scratch.Bindings);
      FScopes.swap(scratch.Scopes);
      FFrames.swap(scratch.Frames);
      FPending.swap(scratch.Pending);
    }
    // Enough for a message's scopes and bindings in one allocation each.
    FBindings.reserve(16);
    FScopes.reserve(32);
    FFrames.reserve(32);
    FPending.reserve(64);
  }
  TWriter(const TWriter&) = delete;
  TWriter& operator=(const TWriter&) = delete;
  ~TWriter() {
    if (!FScratch) return;
    if (FKeepOutput) {
      ClearScratch(FOut);
      FOut.swap(FScratch->Out);
    }
    ClearScratch(FBindings);
    FBindings.swap(FScratch->Bindings);
    ClearScratch(FScopes);
    FScopes.swap(FScratch->Scopes);
    ClearScratch(FFrames);
    FFrames.swap(FScratch->Frames);
    ClearScratch(FPending);
    FPending.swap(FScratch->Pending);
    FScratch->Busy = false;
  }

  UnicodeString FOut;

  // Brings the scope to what it is inside node's parent, as the writing of
  // the whole document would have it there.
  void EnterAncestors(TXNode& node) {
    std::vector<TXNode*> chain;
    for (TXNode* p = node.FType == ATTRIBUTE_NODE ? nullptr : node.FParent; p; p = p->FParent)
      if (p->IsElement()) chain.push_back(p);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) OpenScope(**it, false);
  }

  // Writes top without any white space of its own: no line break after
  // the declaration, no byte-order mark; an element without children is
  // written "<a/>", one with an empty text child "<a></a>".
  void Write(TXNode& top) {
    Reserve(top);
    std::vector<TFrame>& stack = FFrames;
    auto open = [&](TXNode* n) {
      if (n->IsElement() || n->FType == DOCUMENT_NODE || n->FType == DOCUMENT_FRAGMENT_NODE) {
        if (n->IsElement()) {
          OpenScope(*n, true);
          if (n->FFoldedText) {
            // Its only child, a text, is kept in the element.
            FOut += u'>';
            Escape(n->FValue, false);
            FOut += u"</";
            FOut += n->FName;
            FOut += u'>';
            CloseScope();
            return;
          }
          if (n->FChildren.empty()) {
            FOut += u"/>";
            CloseScope();
            return;
          }
          FOut += u'>';
        }
        stack.push_back({n, 0});
      } else {
        WriteLeaf(*n);
      }
    };
    open(&top);
    while (!stack.empty()) {
      TFrame& f = stack.back();
      if (f.Next < f.Node->FChildren.size()) {
        open(f.Node->FChildren[f.Next++]);
        continue;
      }
      TXNode* n = f.Node;
      stack.pop_back();
      if (n->IsElement()) {
        FOut += u"</";
        FOut += n->FName;
        FOut += u'>';
        CloseScope();
      }
    }
  }

 private:
  // Sizes the output once from the tree, so that a large document is not
  // copied over and over as the text grows.
  void Reserve(TXNode& top) {
    std::size_t size = 0;
    std::vector<TXNode*>& stack = FPending;
    stack.push_back(&top);
    while (!stack.empty()) {
      TXNode* n = stack.back();
      stack.pop_back();
      // Nodes lie apart in memory: ask for the ones that come next early.
      for (std::size_t k = 1; k <= 8 && k <= stack.size(); ++k) {
        __builtin_prefetch(stack[stack.size() - k]);
        __builtin_prefetch(reinterpret_cast<char*>(stack[stack.size() - k]) + 128);
      }
      size += 2 * n->FName.size() + n->FValue.size() + 8;
      for (TXNode* a : n->FAttributes) size += a->FName.size() + a->FValue.size() + 4;
      stack.insert(stack.end(), n->FChildren.begin(), n->FChildren.end());
    }
    FOut.reserve(FOut.size() + size + size / 8);
  }

  // The URI a reader would bind prefix to here; empty when none.
  UnicodeStringView Lookup(UnicodeStringView prefix) const {
    if (prefix == u"xml") return kXMLNamespaceURI;
    for (auto it = FBindings.rbegin(); it != FBindings.rend(); ++it)
      if (Same(it->Prefix, prefix)) return it->URI;
    return {};
  }

  static UnicodeStringView DeclaredPrefix(const TXNode& a) {
    return a.FName == u"xmlns" ? UnicodeStringView() : a.LocalName();
  }

  // Opens element's scope: its own declarations, then one added for its
  // name and for each prefixed attribute whose namespace they leave
  // unbound. Writes the start tag without its closing bracket when emit.
  void OpenScope(TXNode& e, bool emit) {
    FScopes.push_back(FBindings.size());
    const std::size_t own = FBindings.size();
    for (TXNode* a : e.FAttributes)
      if (a->IsNamespaceDeclaration()) FBindings.push_back({DeclaredPrefix(*a), a->FValue});
    auto declaredHere = [&](UnicodeStringView prefix) {
      for (std::size_t i = own; i < FBindings.size(); ++i)
        if (Same(FBindings[i].Prefix, prefix)) return true;
      return false;
    };
    auto add = [&](UnicodeStringView prefix, UnicodeStringView uri) {
      FBindings.push_back({prefix, uri});
      if (!emit) return;
      FOut += prefix.empty() ? u" xmlns=\"" : u" xmlns:";
      if (!prefix.empty()) {
        FOut += prefix;
        FOut += u"=\"";
      }
      EscapeURI(uri);
      FOut += u'"';
    };
    if (emit) {
      FOut += u'<';
      FOut += e.FName;
    }
    UnicodeStringView prefix = e.Prefix();
    // A prefixed name without namespace cannot be declared; it is written
    // as the tree has it.
    // URIs are compared exactly, as a reader binds them; a declaration of
    // the same prefix on the element itself wins over its namespace.
    const bool undeclarable = !prefix.empty() && e.FNamespaceURI.empty();
    if (!undeclarable && prefix != u"xml" && !Same(Lookup(prefix), e.FNamespaceURI) &&
        !declaredHere(prefix))
      add(prefix, e.FNamespaceURI);
    if (emit) {
      for (TXNode* a : e.FAttributes) {
        FOut += u' ';
        FOut += a->FName;
        FOut += u"=\"";
        Escape(a->FValue, true);
        FOut += u'"';
      }
    }
    for (TXNode* a : e.FAttributes) {
      UnicodeStringView ap = a->Prefix();
      if (ap.empty() || ap == u"xml" || ap == u"xmlns" || a->FNamespaceURI.empty()) continue;
      if (!Same(Lookup(ap), a->FNamespaceURI) && !declaredHere(ap)) add(ap, a->FNamespaceURI);
    }
  }

  // A namespace URI as an attribute value. The URIs that needed no escaping
  // are remembered by address: a message declares the same few URIs, held
  // by the same shared atoms, on element after element.
  void EscapeURI(UnicodeStringView uri) {
    for (std::size_t i = 0; i < FCleanCount; ++i)
      if (FClean[i].data() == uri.data() && FClean[i].size() == uri.size()) {
        FOut += uri;
        return;
      }
    const std::size_t before = FOut.size();
    Escape(uri, true);
    // Every escape lengthens the text: the same length means none.
    if (FOut.size() - before == uri.size() && FCleanCount < std::size(FClean))
      FClean[FCleanCount++] = uri;
  }

  void CloseScope() {
    FBindings.resize(FScopes.back());
    FScopes.pop_back();
  }

  void WriteLeaf(TXNode& n) {
    switch (n.FType) {
      case TEXT_NODE:
        Escape(n.FValue, false);
        break;
      case CDATA_SECTION_NODE: {
        // "]]>" cannot stand inside a section: it is split over two.
        FOut += u"<![CDATA[";
        UnicodeStringView data = n.FValue;
        for (std::size_t at; (at = data.find(u"]]>")) != UnicodeStringView::npos;) {
          FOut += data.substr(0, at + 2);
          FOut += u"]]><![CDATA[";
          data = data.substr(at + 2);
        }
        FOut += data;
        FOut += u"]]>";
        break;
      }
      case COMMENT_NODE:
        FOut += u"<!--";
        FOut += n.FValue;
        FOut += u"-->";
        break;
      case PROCESSING_INSTRUCTION_NODE:
        FOut += u"<?";
        FOut += n.FName;
        if (!n.FValue.empty()) {
          FOut += u' ';
          FOut += n.FValue;
        }
        FOut += u"?>";
        break;
      case ENTITY_REFERENCE_NODE:
        FOut += u'&';
        FOut += n.FName;
        FOut += u';';
        break;
      case ATTRIBUTE_NODE:
        FOut += n.FName;
        FOut += u"=\"";
        Escape(n.FValue, true);
        FOut += u'"';
        break;
      default:
        break;
    }
  }

  void CharRef(char32_t cp) {
    FOut += u"&#x";
    char16_t digits[8];
    int k = 0;
    do {
      digits[k++] = kHex[cp & 0xF];
      cp >>= 4;
    } while (cp);
    while (k) FOut += digits[--k];
    FOut += u';';
  }

  // Escapes what markup needs escaped; in attribute values also the quote
  // and the white space a reader would normalise away. Runs of characters
  // written as they are go out in one append.
  void Escape(UnicodeStringView text, bool attribute) {
    const std::uint64_t special = attribute ? kSpecialInAttribute : kSpecialInText;
    const bool all = FRepertoire.All();
    std::size_t run = 0;  // start of the pending run
    for (std::size_t i = 0; i < text.size(); ++i) {
      // Everything markup escapes lies below '@': one bit test for ASCII.
      const char16_t c = text[i];
      if (c < 0x40 ? !(special >> c & 1) : (c < 0x80 || all || FRepertoire.Has(c))) continue;
      FOut.append(text.data() + run, i - run);
      EscapeOne(text, i, attribute);
      run = i + 1;
    }
    FOut.append(text.data() + run, text.size() - run);
  }

  // The characters below '@' that text and attribute values escape.
  static constexpr std::uint64_t kSpecialInText = Bit(u'&') | Bit(u'<') | Bit(u'>') | Bit(u'\r');
  static constexpr std::uint64_t kSpecialInAttribute =
      kSpecialInText | Bit(u'"') | Bit(u'\t') | Bit(u'\n');

  // Writes text[i] escaped; i moves past a surrogate pair.
  void EscapeOne(UnicodeStringView text, std::size_t& i, bool attribute) {
    char16_t c = text[i];
    switch (c) {
      case u'&':
        FOut += u"&amp;";
        return;
      case u'<':
        FOut += u"&lt;";
        return;
      case u'>':
        FOut += u"&gt;";
        return;
      case u'\r':
        FOut += u"&#xD;";
        return;
      case u'"':
        if (attribute) {
          FOut += u"&quot;";
          return;
        }
        break;
      case u'\t':
      case u'\n':
        if (attribute) {
          CharRef(c);
          return;
        }
        break;
      default:
        break;
    }
    // Outside text and attribute values (names, comments, CDATA) such a
    // character cannot be referenced and is left to the encoder ("?").
    if (!FRepertoire.Has(c)) {
      char32_t cp = c;
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      }
      CharRef(cp);
      return;
    }
    FOut += c;
  }

  const TRepertoire& FRepertoire;
  TWriterScratch* FScratch = nullptr;  // the thread's, when this writer has it
  bool FKeepOutput = false;
  std::vector<TBinding> FBindings;
  std::vector<std::size_t> FScopes;
  std::vector<TFrame> FFrames;    // the open nodes of Write
  std::vector<TXNode*> FPending;  // the nodes Reserve has still to count
  UnicodeStringView FClean[8];    // URIs written as they are; the tree outlives the writer
  std::size_t FCleanCount = 0;
};

// The encoding item of the declaration that heads doc; empty when none.
UnicodeString DeclaredEncoding(TXNode& doc) {
  if (doc.FChildren.empty()) return {};
  TXNode* first = doc.FChildren.front();
  if (first->FType != PROCESSING_INSTRUCTION_NODE || first->FName != u"xml") return {};
  UnicodeStringView data = first->FValue;
  std::size_t at = data.find(u"encoding");
  if (at == UnicodeStringView::npos) return {};
  std::size_t q = data.find_first_of(u"\"'", at);
  if (q == UnicodeStringView::npos) return {};
  std::size_t e = data.find(data[q], q + 1);
  if (e == UnicodeStringView::npos) return {};
  return UnicodeString(data.substr(q + 1, e - q - 1));
}

}  // namespace

UnicodeString SerializeToText(TXNode& node) {
  TRepertoire all;
  TWriter w(all, false);
  w.EnterAncestors(node);
  w.Write(node);
  return std::move(w.FOut);
}

std::string SerializeDocument(TXNode& doc) {
  UnicodeString name = DeclaredEncoding(doc);
  auto is = [&](UnicodeStringView n) { return rtl::SameTextAscii(name, n); };
  if (is(u"UTF-16") || is(u"UCS-2") || is(u"UNICODE") || is(u"UTF-16LE")) {
    TRepertoire all;
    TWriter w(all, true);
    w.Write(doc);
    // Little-endian with a byte-order mark, as readers of UTF-16 expect.
    std::string out("\xFF\xFE", 2);
    out.reserve(2 + 2 * w.FOut.size());
    for (char16_t c : w.FOut) {
      out.push_back(static_cast<char>(c & 0xFF));
      out.push_back(static_cast<char>(c >> 8));
    }
    return out;
  }
  TCodePage cp = 0;
  if (name.empty() || is(u"UTF-8"))
    cp = CP_UTF8;
  else if (is(u"ISO-8859-1"))
    cp = CP_ISO_8859_1;
  else if (is(u"US-ASCII") || is(u"ASCII"))
    cp = CP_US_ASCII;
  else if (is(u"windows-1252"))
    cp = CP_LATIN1;
  else if (is(u"windows-1253"))
    cp = CP_GREEK;
  else if (is(u"ISO-8859-7"))
    cp = CP_ISO_8859_7;
  else
    throw DOMException(u"The document cannot be saved in the encoding \"%s\"", {name});
  TRepertoire repertoire = cp == CP_UTF8 ? TRepertoire() : TRepertoire(cp);
  TWriter w(repertoire, true);
  w.Write(doc);
  return platform::WideCharToMultiByte(cp, 0, w.FOut);
}

}  // namespace delvan::platform::posix
