#pragma once

#include <QListView>
#include <QStringList>

// The list every window shows: several rows selectable at once, uniform row heights
// (smooth with hundreds of thousands of rows), and Copy (Ctrl+C) of the selected
// records' export texts (RecordRole::ExportTextRole) in list order.
class RecordListView : public QListView
{
    Q_OBJECT

public:
    explicit RecordListView(QWidget* parent = nullptr);

    // The selected rows' export texts, in list order, whatever order they were selected in.
    QStringList selectedExportTexts() const;

public slots:
    // Puts the selected export texts on the clipboard, joined by line feeds; with
    // nothing selected the clipboard is left alone.
    void copySelection();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
