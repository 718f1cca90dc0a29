// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// HTML forms: which form a submit control submits, the entries the form
// holds, and the submission they make, encoded as browsers encode it.

#include "platform/html_document.h"

#include <QByteArray>
#include <QString>
#include <libxml/tree.h>
#include <optional>

namespace platform {

// An enabled submit control and the form it submits.
struct Submitter {
    const xmlNode *control;
    const xmlNode *form;
};

// The enabled submit control with this id below root and the form it submits, if any.
std::optional<Submitter> FindSubmitter(xmlNode *root, const QString &id);

// The submission a click on the submitter makes: the form's entries encoded in
// charset, its action resolved against the page's url.
FormSubmission SubmissionOf(xmlNode *root, const Submitter &submitter, const QString &pageUrl,
                            const QByteArray &charset);

} // namespace platform
