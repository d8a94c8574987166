#include "log/frmLog.h"

#include "core/Forms.h"
#include "log/EventLog.h"
#include "log/LogModel.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableView>

#include <algorithm>

namespace {
// Design-time positions in twips (1440 to the inch).
constexpr int Margin = 240;
constexpr int TitleTop = 240, TitleHeight = 375;
constexpr int GridTop = 720;
constexpr int CloseWidth = 1215, CloseHeight = 375;
constexpr int InnerWidth = 9600, InnerHeight = 6000;
constexpr int ColumnTwips[LogModel::ColumnCount] = {1000, 1000, 1000, 2000, 2000};
} // namespace

void frmLog::ShowLog(QWidget* owner, bool modal)
{
    if (!Forms::Activate(QStringLiteral("frmLog")))
        Forms::Show(new frmLog(owner), modal);
}

frmLog::frmLog(QWidget* owner)
    : QDialog(owner), lblTitle(new QLabel(this)), lvwLog(new QTableView(this)), cmdClose(new QPushButton(this)),
      m_model(new LogModel(this))
{
    setObjectName(QStringLiteral("frmLog"));
    setAttribute(Qt::WA_DeleteOnClose);
    Forms::Register(this);

    setWindowTitle(QStringLiteral("tavinor") + QStringLiteral(" - Logbuch"));
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setText(QStringLiteral("tavinor"));
    Forms::StyleTitle(lblTitle);

    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setText(QStringLiteral("Schließen"));
    connect(cmdClose, &QPushButton::clicked, this, &frmLog::close);

    // A plain list with headers. Every row has the same fixed height and no column sizes itself from its
    // contents, so the grid never walks millions of rows.
    lvwLog->setObjectName(QStringLiteral("lvwLog"));
    lvwLog->setModel(m_model);
    lvwLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwLog->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwLog->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwLog->setShowGrid(false);
    lvwLog->setWordWrap(false);
    lvwLog->setCornerButtonEnabled(false);
    lvwLog->verticalHeader()->hide();
    lvwLog->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lvwLog->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    lvwLog->horizontalHeader()->setHighlightSections(false);
    lvwLog->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < LogModel::ColumnCount; ++c)
        lvwLog->setColumnWidth(c, TwipsX(ColumnTwips[c]));
    // "Ereignis" takes whatever width is left.
    lvwLog->horizontalHeader()->setStretchLastSection(true);
    connect(m_model, &LogModel::Loaded, this, &frmLog::OnLoaded);

    lblTitle->setGeometry(TwipsX(Margin), TwipsY(TitleTop), TwipsX(InnerWidth - 2 * Margin), TwipsY(TitleHeight));
    lvwLog->move(TwipsX(Margin), TwipsY(GridTop));
    cmdClose->resize(TwipsX(CloseWidth), TwipsY(CloseHeight));
    resize(TwipsX(InnerWidth), TwipsY(InnerHeight));
    ApplyLayout();

    LoadLog();
}

void frmLog::LoadLog()
{
    m_model->Load(Functions::LogFilePath());
}

void frmLog::OnLoaded()
{
    const int rows = m_model->rowCount();
    if (rows > 0) {
        const QModelIndex newest = m_model->index(rows - 1, 0);
        lvwLog->setCurrentIndex(newest);
        lvwLog->scrollTo(newest, QAbstractItemView::PositionAtBottom);
    }
    lvwLog->viewport()->update();
    emit LogShown();
}

frmLog::Layout frmLog::ComputeLayout(QSize inner, QRect title, QRect grid, QSize close, int margin)
{
    Layout l;
    l.title = QRect(title.topLeft(), QSize(std::max(0, inner.width() - 2 * margin), title.height()));
    l.grid = QRect(grid.topLeft(), QSize(std::max(0, inner.width() - 2 * margin),
                                         std::max(0, inner.height() - grid.top() - close.height() - 2 * margin)));
    l.close = QRect(QPoint(std::max(0, inner.width() - close.width() - margin),
                           std::max(0, inner.height() - close.height() - margin)),
                    close);
    return l;
}

void frmLog::ApplyLayout()
{
    const Layout l = ComputeLayout(size(), lblTitle->geometry(), lvwLog->geometry(), cmdClose->size(), TwipsX(Margin));
    lblTitle->setGeometry(l.title);
    lvwLog->setGeometry(l.grid);
    cmdClose->setGeometry(l.close);
}

void frmLog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    ApplyLayout();
}

int frmLog::TwipsX(int twips) const
{
    return twips * logicalDpiX() / 1440;
}

int frmLog::TwipsY(int twips) const
{
    return twips * logicalDpiY() / 1440;
}
