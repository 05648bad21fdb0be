#include "virtualpagescript.h"

#include <QHash>
#include <QStringList>

#include <opencv2/imgproc.hpp>

#include <algorithm>

bool VirtualPageScript::parse(const QString &text, VirtualPageScript &script)
{
    QVector<Step> parsed;
    QHash<int, int> shown;
    for (QString item : text.split(QLatin1Char('/'))) {
        item = item.trimmed().toLower();
        Step step;
        if (item == QLatin1String("-")) {
            step.empty = true;
            parsed.append(step);
            continue;
        }
        if (item.endsWith(QLatin1Char('h'))) {
            step.hand = true;
            item.chop(1);
        }
        bool ok = false;
        step.page = item.toInt(&ok);
        if (!ok || step.page < 0 || step.page > 9999 || item.startsWith(QLatin1Char('+')))
            return false;
        step.showing = shown[step.page]++;
        parsed.append(step);
    }
    if (parsed.isEmpty())
        return false;
    script.steps = parsed;
    return true;
}

const VirtualPageScript::Step &VirtualPageScript::at(int slot) const
{
    return steps.at(std::clamp(slot, 0, steps.size() - 1));
}

void VirtualPageScript::layAgain(cv::Mat &image, int showing)
{
    if (showing <= 0 || image.empty())
        return;
    const cv::Point2f centre(image.cols / 2.0f, image.rows / 2.0f);
    cv::Mat move = cv::getRotationMatrix2D(centre, 1.5 * ((showing % 2) ? showing : -showing), 1.0);
    move.at<double>(0, 2) += 0.012 * image.cols * showing;
    move.at<double>(1, 2) -= 0.01 * image.rows * showing;
    cv::Mat moved;
    cv::warpAffine(image, moved, move, image.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    image = moved;
}
