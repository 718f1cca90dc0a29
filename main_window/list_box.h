#pragma once

#include <QListView>
#include <QStringList>

// A list box of text lines that are only ever appended to. The lines are
// kept as one list of strings, shared with whoever else holds them, so a
// long list costs little more than its text.
class ListBox final : public QListView {
public:
    explicit ListBox(QWidget *parent);

    int count() const { return lines().size(); }
    QString text(int index) const { return lines().at(index); }
    const QStringList &lines() const;

    void addItem(const QString &line) { addItems({line}); }
    void addItems(const QStringList &lines);

private:
    class Lines;
    Lines *lines_;
};
