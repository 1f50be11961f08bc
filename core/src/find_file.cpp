// The large document form's search: the file streamed through libxml2's parser with
// callbacks that build nothing, each name, value, text and comment matched as it goes by.
// It finds what findAll() finds in the same file loaded as a document: the same layout
// judgement (layout_blanks.h), the same paths, elements numbered as the index numbers them.
#include "find_internal.h"
#include "layout_blanks.h"

#include <libxml/parserInternals.h>
#include <libxml/SAX2.h>
#include <libxml/entities.h>

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <memory>

namespace treelark {

namespace {

struct Name {
    const xmlChar* prefix;
    const xmlChar* local;
    bool operator==(const Name& o) const { return prefix == o.prefix && local == o.local; }
};

struct Open {
    qint64 row = -1;          // -1: the document
    Name name{nullptr, nullptr};
    int index = 0;            // among its parent's elements of its name; 0: the document element
    QString path;
    bool pathKnown = false;
    std::vector<std::pair<Name, int>> names;
    int texts = 0, comments = 0;
    std::uint8_t held = 0;
};

struct Stream {
    xmlParserCtxtPtr ctxt = nullptr;
    const FindOptions* options = nullptr;
    const detail::Pattern* pattern = nullptr;
    std::unique_ptr<detail::Prefilter> quick;
    FindResult* result = nullptr;
    std::vector<Open> open;   // open[0] is the document
    qint64 rows = 0;
    qint64 branchDepth = -1;  // while inside the branch: the depth of its element
    QByteArray text;          // the text node being read, not yet ended
    bool inText = false;
    bool stopAtNextElement = false;
    bool stopped = false;

    bool inScope() const { return options->branchRow < 0 || branchDepth >= 0; }
    QString qualified(const Name& n) const
    {
        QByteArray q = n.prefix ? QByteArray(reinterpret_cast<const char*>(n.prefix)) + ':' : QByteArray();
        return QString::fromUtf8(q + reinterpret_cast<const char*>(n.local));
    }
    QString pathOf(size_t depth)
    {
        Open& o = open[depth];
        if (!o.pathKnown) {
            const QString own = o.index == 0 ? QLatin1Char('/') + qualified(o.name)
                                             : QStringLiteral("/%1[%2]").arg(qualified(o.name)).arg(o.index);
            o.path = depth == 0 ? QString() : pathOf(depth - 1) + own;
            o.pathKnown = true;
        }
        return o.path;
    }
    void match(FindPlace place, const QByteArray& subjectBytes, const QString& attribute, qint64 row,
               const std::function<QString()>& path)
    {
        if (!quick->mayMatch(reinterpret_cast<const xmlChar*>(subjectBytes.constData()), size_t(subjectBytes.size())))
            return;
        const QString subject = QString::fromUtf8(subjectBytes);
        QString at;
        auto it = pattern->re.globalMatch(subject);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            if (m.capturedLength() == 0)
                continue;
            if (at.isNull())
                at = path();
            FindMatch found;
            found.place = place;
            found.attributeName = attribute;
            found.offset = m.capturedStart();
            found.length = m.capturedLength();
            found.subject = subject;
            found.path = at;
            found.row = row;
            result->matches.push_back(std::move(found));
        }
    }
    // The text read so far is a whole node now that something else follows it.
    void endText()
    {
        if (!inText)
            return;
        inText = false;
        Open& parent = open.back();
        const int n = ++parent.texts;
        if (inScope() && (options->places & FindText))
            match(FindText, text, QString(), parent.row,
                  [&] { return pathOf(open.size() - 1) + QStringLiteral("/text()[%1]").arg(n); });
        text.clear();
    }
    void tick()
    {
        if ((++rows & 0x3FFF) != 0)
            return;
        busyTick();
        if (cancelRequested()) {
            result->problem = {QStringLiteral("The search was stopped."), -1, true};
            stop();
        }
    }
    void stop()
    {
        stopped = true;
        xmlStopParser(ctxt);
    }
};

// An attribute value as the document holds it. The parser hands values over with the
// references it will read when it builds a tree still in them: "&#38;" for "&amp;", and
// any entity of the document's own by name.
QByteArray withReferencesRead(xmlParserCtxtPtr ctxt, const QByteArray& raw, int depth = 0)
{
    if (!raw.contains('&'))
        return raw;
    QByteArray out;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const qsizetype semi = raw[i] == '&' ? raw.indexOf(';', i) : -1;
        if (semi < 0) {
            out += raw[i];
            continue;
        }
        const QByteArray name = raw.mid(i + 1, semi - i - 1);
        bool ok = false;
        const uint code = name.startsWith("#x") ? name.mid(2).toUInt(&ok, 16)
                          : name.startsWith('#') ? name.mid(1).toUInt(&ok, 10)
                                                 : 0;
        if (ok) {
            const char32_t c = char32_t(code);
            out += QString::fromUcs4(&c, 1).toUtf8();
        } else if (xmlEntityPtr e = xmlGetDocEntity(ctxt->myDoc, reinterpret_cast<const xmlChar*>(name.constData()));
                   e && e->content) {
            const QByteArray content(reinterpret_cast<const char*>(e->content));
            out += depth < 8 ? withReferencesRead(ctxt, content, depth + 1) : content;
        } else {
            out += raw.mid(i, semi + 1 - i);
        }
        i = semi;
    }
    return out;
}

Stream* streamOf(void* ctx)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    auto* s = static_cast<Stream*>(ctxt->_private);
    return s && ctxt == s->ctxt && !s->stopped ? s : nullptr; // not an entity's own parse
}

void onStart(void* ctx, const xmlChar* local, const xmlChar* prefix, const xmlChar*, int nbNamespaces,
             const xmlChar** namespaces, int nbAttributes, int nbDefaulted, const xmlChar** attributes)
{
    Stream* s = streamOf(ctx);
    if (!s)
        return;
    if (s->stopAtNextElement || s->ctxt->inputNr != 1)
        return s->stop(); // past a fault, or inside an entity: no longer the index's rows
    s->endText();
    Open& parent = s->open.back();
    const Name name{prefix, local};
    int index = 0;
    if (s->open.size() > 1) {
        auto it = std::find_if(parent.names.begin(), parent.names.end(), [&](const auto& p) { return p.first == name; });
        index = it == parent.names.end() ? (parent.names.push_back({name, 1}), 1) : ++it->second;
    }
    parent.held = detail::heldAfterChild(parent.held, false);
    const qint64 row = s->rows;
    s->tick();
    s->open.push_back({row, name, index, QString(), false, {}, 0, 0, 0});
    if (row == s->options->branchRow)
        s->branchDepth = qint64(s->open.size());
    if (!s->inScope())
        return;
    const size_t depth = s->open.size() - 1;
    auto elementPath = [s, depth] { return s->pathOf(depth); };
    const unsigned places = s->options->places;
    if (places & FindElementNames)
        s->match(FindElementNames, s->qualified(name).toUtf8(), QString(), row, elementPath);
    if (!(places & (FindAttributeNames | FindAttributeValues)))
        return;
    auto offer = [&](const QString& attrName, const QByteArray& value) {
        auto attrPath = [&] { return s->pathOf(depth) + QStringLiteral("/@") + attrName; };
        if (places & FindAttributeNames)
            s->match(FindAttributeNames, attrName.toUtf8(), attrName, row, attrPath);
        if (places & FindAttributeValues)
            s->match(FindAttributeValues, value, attrName, row, attrPath);
    };
    for (int i = 0; i < nbNamespaces; ++i) {
        const xmlChar* p = namespaces[2 * i];
        const xmlChar* uri = namespaces[2 * i + 1];
        offer(p ? QStringLiteral("xmlns:") + QString::fromUtf8(reinterpret_cast<const char*>(p)) : QStringLiteral("xmlns"),
              QByteArray(uri ? reinterpret_cast<const char*>(uri) : ""));
    }
    for (int i = 0; i < nbAttributes - nbDefaulted; ++i) {
        const xmlChar** a = attributes + 5 * i;
        const QByteArray value = withReferencesRead(s->ctxt, QByteArray(reinterpret_cast<const char*>(a[3]), a[4] - a[3]));
        offer(s->qualified({a[1], a[0]}), value);
    }
}

void onEnd(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*)
{
    Stream* s = streamOf(ctx);
    if (!s || s->open.size() < 2)
        return;
    s->endText();
    if (s->branchDepth == qint64(s->open.size()))
        s->branchDepth = -1;
    s->open.pop_back();
}

void onCharacters(void* ctx, const xmlChar* ch, int len)
{
    Stream* s = streamOf(ctx);
    if (!s || s->open.size() < 2)
        return;
    Open& parent = s->open.back();
    if (!s->inText && detail::isLayout(s->ctxt, parent.held, ch, len))
        return;
    parent.held = detail::heldAfterChild(parent.held, true);
    s->inText = true;
    s->text.append(reinterpret_cast<const char*>(ch), len);
}

void onCdata(void* ctx, const xmlChar* ch, int len)
{
    Stream* s = streamOf(ctx);
    if (!s || s->open.size() < 2)
        return;
    s->endText();
    s->text = QByteArray(reinterpret_cast<const char*>(ch), len);
    s->inText = true;
    s->open.back().held = detail::heldAfterChild(s->open.back().held, true);
    s->endText();
}

void onComment(void* ctx, const xmlChar* value)
{
    Stream* s = streamOf(ctx);
    if (!s || s->ctxt->inSubset != 0)
        return;
    s->endText();
    Open& parent = s->open.back();
    parent.held = detail::heldAfterChild(parent.held, false);
    const int n = ++parent.comments;
    if (s->inScope() && (s->options->places & FindComments))
        s->match(FindComments, QByteArray(reinterpret_cast<const char*>(value)), QString(), parent.row,
                 [s, n] { return s->pathOf(s->open.size() - 1) + QStringLiteral("/comment()[%1]").arg(n); });
}

// An instruction or an entity reference ends the text before it and is no text itself.
void onOther(void* ctx, const xmlChar*, const xmlChar*)
{
    if (Stream* s = streamOf(ctx)) {
        s->endText();
        s->open.back().held = detail::heldAfterChild(s->open.back().held, false);
    }
}

// A document loaded as a tree has an entity's text in place of its reference, joined
// with the text around it; an entity holding markup is no text of its own.
void onReference(void* ctx, const xmlChar* name)
{
    Stream* s = streamOf(ctx);
    if (!s || s->open.size() < 2)
        return;
    xmlEntityPtr e = xmlGetDocEntity(s->ctxt->myDoc, name);
    const QByteArray content = e && e->content ? QByteArray(reinterpret_cast<const char*>(e->content)) : QByteArray();
    if (!e || content.contains('<')) {
        s->endText();
        return;
    }
    s->open.back().held = detail::heldAfterChild(s->open.back().held, true);
    s->inText = true;
    s->text += withReferencesRead(s->ctxt, content);
}

void onError(void* ctx, xmlErrorPtr e)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    auto* s = ctxt ? static_cast<Stream*>(ctxt->_private) : nullptr;
    // the index keeps the rows before a fault; so does the search
    if (s && e && e->level >= XML_ERR_ERROR)
        s->stopAtNextElement = true;
}

} // namespace

FindResult findInFile(const DocumentIndex& index, const FindOptions& options)
{
    FindResult result;
    const detail::Pattern pattern = detail::compilePattern(options);
    result.problem = pattern.problem;
    if (pattern.empty || result.problem.isError())
        return result;
    if (!options.xpath.trimmed().isEmpty()) {
        result.problem.message = QStringLiteral("an XPath needs the document in memory; this one is shown from its index");
        return result;
    }
    Stream s;
    s.options = &options;
    s.pattern = &pattern;
    s.quick = std::make_unique<detail::Prefilter>(options);
    s.result = &result;
    s.open.push_back({});
    s.ctxt = xmlNewParserCtxt();
    if (!s.ctxt) {
        result.problem.message = QStringLiteral("Out of memory");
        return result;
    }
    s.ctxt->_private = &s;
    xmlSAXHandlerPtr sax = s.ctxt->sax;
    sax->startElementNs = onStart;
    sax->endElementNs = onEnd;
    sax->startElement = nullptr;
    sax->endElement = nullptr;
    sax->characters = onCharacters;
    sax->ignorableWhitespace = onCharacters;
    sax->cdataBlock = onCdata;
    sax->comment = onComment;
    sax->processingInstruction = onOther;
    sax->reference = onReference;
    sax->serror = onError;
    const QByteArray path = QFile::encodeName(index.path());
    const int parse = XML_PARSE_HUGE | XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR | XML_PARSE_BIG_LINES;
    xmlDocPtr doc = xmlCtxtReadFile(s.ctxt, path.constData(), nullptr, parse);
    if (doc)
        xmlFreeDoc(doc);
    else if (s.ctxt->myDoc)
        xmlFreeDoc(s.ctxt->myDoc);
    s.ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(s.ctxt);
    if (result.problem.cancelled) {
        result.matches.clear();
    } else if (QFileInfo(index.path()).size() != index.fileSize()) {
        result.matches.clear();
        result.problem.message = QStringLiteral("the file changed on disk since it was opened; open it again");
    }
    return result;
}

} // namespace treelark
