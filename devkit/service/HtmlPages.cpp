#include "HtmlPages.h"

#include <QLocale>
#include <QUrl>

namespace HtmlPages {

namespace {
const char* const kStyle = R"(
  :root { color-scheme: light dark; }
  body { margin: 0; min-height: 100vh; display: flex; align-items: center; justify-content: center;
         font-family: system-ui, -apple-system, "Segoe UI", "Noto Sans", sans-serif;
         background: #eef0f5; color: #1d2230; }
  main { background: #fff; border-radius: 14px; box-shadow: 0 8px 32px rgba(20, 30, 60, .12);
         padding: 36px 40px; width: min(440px, calc(100vw - 48px)); box-sizing: border-box; }
  main.wide { width: min(720px, calc(100vw - 48px)); }
  h1 { font-size: 22px; margin: 0 0 6px; }
  p { line-height: 1.5; margin: 8px 0; color: #4a5266; }
  label { display: block; font-size: 14px; font-weight: 600; margin: 22px 0 6px; }
  input[type=email] { width: 100%; box-sizing: border-box; font: inherit; padding: 11px 12px;
         border: 1px solid #c5cad6; border-radius: 8px; }
  input[type=email]:focus { outline: 2px solid #5b6cff; border-color: transparent; }
  button { margin-top: 20px; width: 100%; font: inherit; font-weight: 600; padding: 12px; border: 0;
         border-radius: 8px; background: #4353ff; color: #fff; cursor: pointer; }
  button:hover { background: #3443e6; }
  .problem { color: #b3261e; font-size: 14px; }
  table { width: 100%; border-collapse: collapse; margin: 12px 0; font-size: 14px; }
  th, td { text-align: left; padding: 6px 8px; border-bottom: 1px solid #e3e6ee; }
  code { font-size: 13px; }
  a { color: #3443e6; }
  @media (prefers-color-scheme: dark) {
    body { background: #14161c; color: #e8eaf0; }
    main { background: #1f232c; box-shadow: none; }
    p { color: #aab1c2; }
    input[type=email] { background: #14161c; color: #e8eaf0; border-color: #3a4050; }
    th, td { border-color: #2e3340; }
    a { color: #8e99ff; }
  }
)";

QString page(const QString& title, const QString& body, bool bWide = false)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                          "<title>%1</title>\n<style>%2</style>\n</head>\n<body>\n<main%3>\n%4</main>\n</body>\n"
                          "</html>\n")
        .arg(title.toHtmlEscaped(), QString::fromLatin1(kStyle), bWide ? QStringLiteral(" class=\"wide\"") : QString(),
             body);
}

QString attribute(const QString& text)
{
    return text.toHtmlEscaped();
}
} // namespace

QString signInForm(const QString& instanceId, const QString& client, const QString& returnUrl, const QString& problem)
{
    const QString problemLine =
        problem.isEmpty() ? QString()
                          : QStringLiteral("<p class=\"problem\" role=\"alert\">%1</p>\n").arg(problem.toHtmlEscaped());
    return page(QStringLiteral("Sign in to Orvel"),
                QStringLiteral("<h1>Sign in to Orvel</h1>\n"
                               "<p>Enter your e-mail address to sign in to the launcher.</p>\n%1"
                               "<form method=\"post\" action=\"Login\">\n"
                               "<input type=\"hidden\" name=\"InstanceId\" value=\"%2\">\n"
                               "<input type=\"hidden\" name=\"client\" value=\"%3\">\n"
                               "<input type=\"hidden\" name=\"returnUrl\" value=\"%4\">\n"
                               "<label for=\"email\">E-mail</label>\n"
                               "<input id=\"email\" name=\"email\" type=\"email\" autocomplete=\"email\" required "
                               "autofocus maxlength=\"254\" placeholder=\"you@example.com\">\n"
                               "<button type=\"submit\">Sign in</button>\n"
                               "</form>\n")
                    .arg(problemLine, attribute(instanceId), attribute(client), attribute(returnUrl)));
}

QString signedIn()
{
    return page(QStringLiteral("Signed in"),
                QStringLiteral("<h1>Signed in</h1>\n<p>You are signed in. You can return to the launcher.</p>\n"));
}

QString connect(const QString& launcherVersion)
{
    return page(QStringLiteral("Orvel launcher"),
                QStringLiteral("<h1>A new launcher is available</h1>\n"
                               "<p>Launcher %1 has been released. Install it to keep Orvel up to date.</p>\n"
                               "<p>This development service publishes no launcher installers; build the launcher "
                               "from source instead.</p>\n")
                    .arg(launcherVersion.toHtmlEscaped()));
}

QString index(const QList<BuildSummary>& builds, const QString& launcherVersion, const QString& sampleInstanceId)
{
    const QLocale locale = QLocale::c();
    QString rows;
    for (const BuildSummary& build : builds) {
        const QString version = build.version.toHtmlEscaped();
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td>"
                               "<td><a href=\"/update/orvel/patch?version=0.0.0.0&amp;os=255&amp;output=json\">"
                               "newest</a> · <a href=\"/update/orvel/patch?version=%4.t&amp;vt=daily&amp;os=255"
                               "&amp;output=json\">this build</a></td></tr>\n")
                    .arg(version, QString::number(build.fileCount), locale.formattedDataSize(build.totalSize),
                         QString::fromLatin1(QUrl::toPercentEncoding(build.version)));
    }
    if (rows.isEmpty())
        rows = QStringLiteral(
            "<tr><td colspan=\"4\">No builds published: start with --publish VERSION=FOLDER.</td></tr>\n");
    return page(QStringLiteral("Orvel development service"),
                QStringLiteral("<h1>Orvel development service</h1>\n"
                               "<p>Update service under <code>/update/</code>, account web service under "
                               "<code>/account/</code>. Newest launcher: %1 "
                               "(<a href=\"/update/orvel/archive/55?pagesize=1\">archive</a>).</p>\n"
                               "<table>\n<tr><th>Build</th><th>Files</th><th>Size</th><th>Manifest</th></tr>\n%2"
                               "</table>\n"
                               "<p><a href=\"/account/Account/Login?InstanceId=%3&amp;client=0&amp;returnUrl=/account/"
                               "signedin\">Sign-in page</a> · <a href=\"/account/connect\">Connect page</a> · "
                               "<a href=\"/account/api/Orvel/LauncherArtwork?api-version=2\">Artwork</a></p>\n")
                    .arg(launcherVersion.toHtmlEscaped(), rows, sampleInstanceId),
                true);
}

QString message(const QString& title, const QString& text)
{
    return page(title, QStringLiteral("<h1>%1</h1>\n<p>%2</p>\n").arg(title.toHtmlEscaped(), text.toHtmlEscaped()));
}

} // namespace HtmlPages
