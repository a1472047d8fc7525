#include "model/KRSectionRegistry.h"

namespace {

QVariantMap aggregateSection(const QString& name, std::initializer_list<int> sourceRIDs)
{
    QVariantList sources;
    for (int rid : sourceRIDs)
        sources.append(rid);
    return QVariantMap{
        {KRSectionNameKey, name},
        {KRSectionRouteKey, int(KRSectionRouteAggregate)},
        {KRSectionSourceRIDsKey, sources},
    };
}

QVariantList buildSections()
{
    return QVariantList{
        KRPGCSection(QStringLiteral("番剧"), 1),
        KRPGCSection(QStringLiteral("国创"), 4),
        KRPGCSection(QStringLiteral("纪录片"), 3),
        KRPGCSection(QStringLiteral("电影"), 2),
        KRPGCSection(QStringLiteral("电视剧"), 5),
        KRPGCSection(QStringLiteral("综艺"), 7),
        KRUGCSection(QStringLiteral("影视"), 181),
        KRUGCSection(QStringLiteral("娱乐"), 5),
        KRUGCSection(QStringLiteral("音乐"), 3),
        KRUGCSection(QStringLiteral("舞蹈"), 129),
        KRUGCSection(QStringLiteral("动画"), 1),
        KRUGCSection(QStringLiteral("绘画"), 162),
        KRUGCSection(QStringLiteral("鬼畜"), 119),
        KRUGCSection(QStringLiteral("游戏"), 4),
        KRUGCSection(QStringLiteral("资讯"), 202),
        KRUGCSection(QStringLiteral("知识"), 36),
        aggregateSection(QStringLiteral("人工智能"), {259, 265, 231, 36}),
        KRUGCSection(QStringLiteral("科技数码"), 188),
        KRUGCSection(QStringLiteral("汽车"), 223),
        KRUGCSection(QStringLiteral("时尚美妆"), 155),
        KRUGCSection(QStringLiteral("家装房产"), 239),
        aggregateSection(QStringLiteral("户外潮流"), {250, 159, 237}),
        KRUGCSection(QStringLiteral("健身"), 164),
        KRUGCSection(QStringLiteral("体育运动"), 234),
        KRUGCSection(QStringLiteral("手工"), 161),
        KRUGCSection(QStringLiteral("美食"), 211),
        KRUGCSection(QStringLiteral("小剧场"), 85),
        KRUGCSection(QStringLiteral("旅游出行"), 250),
        KRUGCSection(QStringLiteral("三农"), 251),
        KRUGCSection(QStringLiteral("动物"), 217),
        KRUGCSection(QStringLiteral("亲子"), 254),
        aggregateSection(QStringLiteral("健康"), {164, 36}),
        aggregateSection(QStringLiteral("情感"), {21, 36}),
        aggregateSection(QStringLiteral("vlog"), {21, 250}),
        aggregateSection(QStringLiteral("生活兴趣"), {161, 162, 21}),
        aggregateSection(QStringLiteral("生活经验"), {21, 36}),
    };
}

} // namespace

QVariantMap KRPGCSection(const QString& name, int seasonType)
{
    return QVariantMap{
        {KRSectionNameKey, name},
        {KRSectionRouteKey, int(KRSectionRouteSeasonIndex)},
        {KRSectionSeasonTypeKey, seasonType},
    };
}

QVariantMap KRUGCSection(const QString& name, int rid)
{
    return QVariantMap{
        {KRSectionNameKey, name},
        {KRSectionRouteKey, int(KRSectionRouteRegion)},
        {KRSectionRIDKey, rid},
    };
}

QVariantList KRSectionRegistry::allSections()
{
    // A function-local static is built exactly once, even with concurrent first calls.
    static const QVariantList sections = buildSections();
    return sections;
}
