#include "support/CatalogueText.h"

#include <QStringList>

#include <array>

namespace testsupport {
namespace {

QString S(const char* text) { return QString::fromUtf8(text); }

struct Region {
    qint64 rid;
    const char* name;
    qint64 shortest; // seconds
    qint64 spread;
    std::array<const char*, 8> titles;
};

// The regions of the discover grid, and the ones only its aggregates ask (21, 159, 231, 237,
// 259, 265), each with titles of its own kind.
const std::array<Region, 29> kRegions{{
    {181, "影视", 240, 900, {"一口气看完经典科幻片", "这部冷门电影值得二刷", "导演埋下的十个细节", "老电影里的城市街景", "三分钟讲完悬疑神作", "配乐如何推动剧情", "被低估的国产佳片", "镜头语言入门"}},
    {5, "娱乐", 120, 600, {"综艺名场面合集", "后台花絮大公开", "年度爆笑瞬间", "明星翻唱对比", "观众投票最爱节目", "舞台事故与救场", "采访里的真心话", "晚会节目回顾"}},
    {3, "音乐", 150, 180, {"钢琴弹唱《晚风》", "吉他指弹改编", "一人乐队翻唱老歌", "古筝版流行金曲", "深夜电台歌单", "原创民谣首发", "阿卡贝拉多声部", "小提琴与城市噪音"}},
    {129, "舞蹈", 90, 240, {"街舞基础律动教学", "古典舞《惊鸿》", "宅舞翻跳练习室", "爵士舞编舞分享", "一镜到底双人舞", "民族舞身韵组合", "广场舞新曲目", "现代舞即兴片段"}},
    {1, "动画", 120, 900, {"独立动画短片首映", "手绘逐帧动画过程", "经典动画分镜解析", "三维角色建模记录", "动画配音幕后", "定格动画怎么拍", "同人动画完结篇", "作画监督访谈"}},
    {162, "绘画", 300, 1500, {"水彩风景写生", "板绘厚涂人物教程", "铅笔素描静物", "油画棒画晚霞", "漫画分镜怎么排", "国画工笔花鸟", "速写每日一练", "色彩搭配小技巧"}},
    {119, "鬼畜", 60, 240, {"洗脑循环混剪", "老片台词新唱", "节奏大师剪辑", "全程高能混音", "名场面音MAD", "万物皆可调音", "魔性舞步合集", "新年鬼畜贺岁"}},
    {4, "游戏", 600, 2400, {"独立游戏通关实况", "开放世界隐藏任务", "像素游戏速通挑战", "解谜游戏全收集攻略", "复古主机开箱试玩", "策略游戏新手入门", "联机合作爆笑集锦", "剧情向游戏全流程"}},
    {202, "资讯", 60, 420, {"本周科技新闻速览", "城市交通新规解读", "天气变化早知道", "一分钟看懂热点", "社区新闻播报", "新政策问答", "航天发射现场", "展会现场直击"}},
    {36, "知识", 480, 1500, {"十分钟看懂量子纠缠", "古代建筑为何不怕地震", "经济学里的囚徒困境", "如何高效记笔记", "宇宙有多大", "历史上的小冰期", "语言是怎么演化的", "睡眠的科学"}},
    {188, "科技数码", 300, 900, {"新款耳机深度评测", "旧笔记本升级固态", "机械键盘轴体对比", "手机拍照盲测", "家用网络布线指南", "平板当副屏体验", "充电器拆解", "相机入门选购"}},
    {223, "汽车", 300, 1200, {"二手车验车全流程", "新能源车冬季续航实测", "自驾换机油教程", "老车翻新记录", "越野路段试驾", "驾校科目二技巧", "轮胎怎么选", "车内收纳改造"}},
    {155, "时尚美妆", 240, 600, {"秋冬通勤穿搭", "新手化妆步骤", "平价护肤好物", "发型改造前后", "香水入门分享", "衣柜整理术", "一衣多穿挑战", "淡妆十分钟"}},
    {239, "家装房产", 300, 900, {"老房改造全记录", "小户型收纳设计", "出租屋低成本改造", "厨房动线怎么规划", "墙面刷漆教程", "阳台变书房", "灯光布置技巧", "装修避坑清单"}},
    {164, "健身", 600, 1200, {"居家二十分钟燃脂", "新手深蹲要点", "跑步膝盖保护", "拉伸放松跟练", "核心力量训练", "一周增肌计划", "跳绳入门", "办公室肩颈操"}},
    {234, "体育运动", 300, 1500, {"羽毛球杀球教学", "业余篮球赛集锦", "游泳换气练习", "乒乓球发球技巧", "足球颠球挑战", "攀岩初体验", "马拉松赛道记录", "飞盘新手入门"}},
    {161, "手工", 300, 1500, {"在家做的猫爬架", "用旧木板做一张书桌", "皮具钱包手缝教程", "毛线钩织小熊", "滴胶书签制作", "竹编收纳篮", "纸艺立体贺卡", "黏土小摆件"}},
    {211, "美食", 240, 900, {"十分钟学会手冲咖啡", "家常红烧肉", "街头小吃探店", "面包零失败配方", "一人食快手晚餐", "老家的手擀面", "夏日冰饮合集", "砂锅粥的秘诀"}},
    {85, "小剧场", 180, 600, {"办公室日常短剧", "室友之间的误会", "一分钟悬疑反转", "校园青春小剧场", "情侣日常吐槽", "家庭群聊名场面", "面试现场", "外卖小哥的一天"}},
    {250, "旅游出行", 300, 1200, {"城市夜骑 Vlog", "三天两夜古镇游", "绿皮火车慢旅行", "海岛自由行攻略", "徒步穿越峡谷", "边境小城漫步", "雪山脚下露营", "地铁终点站探索"}},
    {251, "三农", 240, 900, {"稻田里的一年", "果园春季修剪", "自家菜地收成", "乡村集市赶集", "养蜂人的日常", "老宅院的秋天", "农机操作入门", "山里采菌子"}},
    {217, "动物", 60, 420, {"橘猫的迷惑行为", "柴犬第一次见雪", "仓鼠搬家记", "野生白鹭觅食", "鹦鹉学说话", "流浪猫救助记录", "水族缸造景", "兔子的一天"}},
    {254, "亲子", 180, 600, {"周末亲子手工", "绘本共读时间", "宝宝辅食制作", "带娃露营装备", "儿童房布置", "亲子科学小实验", "第一次骑自行车", "睡前故事"}},
    {21, "日常", 180, 900, {"独居生活记录", "早起的一天", "周末大扫除", "下班后的两小时", "城市通勤日记", "搬家整理记", "一个人过生日", "雨天在家做什么"}},
    {159, "时尚潮流", 180, 600, {"街头穿搭采访", "球鞋清洗保养", "古着店探店", "配饰搭配思路", "复古风造型", "运动风穿搭", "帽子怎么选", "包包收纳"}},
    {237, "户外", 300, 1200, {"轻量化露营装备", "第一次野外徒步", "溯溪注意事项", "夜爬看日出", "野炊美食", "帐篷搭建教程", "登山杖怎么用", "雨中徒步记录"}},
    {231, "计算机技术", 600, 1800, {"从零写一个编译器", "数据库索引原理", "命令行效率技巧", "网络协议抓包", "算法题精讲", "操作系统调度", "写一个小游戏引擎", "代码重构实战"}},
    {259, "人工智能", 480, 1500, {"神经网络入门", "手写数字识别实战", "语音识别怎么工作", "图像分类模型训练", "机器翻译简史", "推荐算法原理", "强化学习玩小游戏", "数据标注那些事"}},
    {265, "机器人", 300, 1200, {"自制平衡小车", "机械臂抓取演示", "扫地机器人拆解", "四足机器人行走", "舵机控制入门", "巡线小车比赛", "仿生鱼设计", "桌面机器人开源"}},
}};

const Region* regionOf(qint64 rid)
{
    for (const Region& region : kRegions)
        if (region.rid == rid)
            return &region;
    return nullptr;
}

// Spreads consecutive ids apart, so neighbouring rows do not read alike.
quint64 mix(qint64 value)
{
    quint64 x = quint64(value) * 0x9E3779B97F4A7C15ULL;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ULL;
    return x ^ (x >> 32);
}

const std::array<const char*, 6> kEndings{"", "（完整版）", "｜新手也能看懂", "第%1期", "（上）", "·记录"};

} // namespace

QString CatalogueText::sectionName(qint64 rid)
{
    const Region* region = regionOf(rid);
    return region ? S(region->name) : S("生活");
}

bool CatalogueText::isRegion(qint64 rid) { return regionOf(rid) != nullptr; }

qint64 CatalogueText::regionFor(qint64 aid) { return kRegions[mix(aid) % kRegions.size()].rid; }

QString CatalogueText::title(qint64 aid, qint64 rid)
{
    const Region* region = regionOf(rid);
    if (!region)
        region = regionOf(regionFor(aid));
    const quint64 h = mix(aid);
    QString ending = S(kEndings[(h >> 8) % kEndings.size()]);
    if (ending.contains(QLatin1String("%1")))
        ending = ending.arg(1 + (h >> 16) % 60);
    return S(region->titles[h % region->titles.size()]) + ending;
}

qint64 CatalogueText::durationSeconds(qint64 aid, qint64 rid)
{
    const Region* region = regionOf(rid);
    if (!region)
        region = regionOf(regionFor(aid));
    return region->shortest + qint64((mix(aid) >> 24) % quint64(region->spread));
}

QString CatalogueText::uploaderName(qint64 mid)
{
    static const QStringList first{S("小"), S("阿"), S("老"), S("大"), S("胖"), S("懒"), S("酷"), S("甜"), S("野"), S("闲")};
    static const QStringList second{S("鱼"), S("猫"), S("熊"), S("鹿"), S("兔"), S("狐"), S("鲸"), S("鸦"), S("橙"), S("栗")};
    static const QStringList third{QString(), S("酱"), S("同学"), S("不加糖"), S("在路上")};
    // A step coprime with 500 spreads neighbouring ids over all three parts and keeps every
    // 500 consecutive ids apart.
    const qint64 n = (mid < 0 ? -mid : mid) % 500 * 7919 % 500;
    return first[n % 10] + second[(n / 10) % 10] + third[(n / 100) % 5];
}

QString CatalogueText::searchTitle(const QString& keyword, qint64 index)
{
    static const std::array<const char*, 10> forms{"%1 入门教程", "我的%1日常", "%1 十个冷知识", "一口气了解%1",
                                                   "%1 合集（持续更新）", "关于%1的一次尝试", "%1 新手常见问题",
                                                   "%1 深度测评", "当%1遇上周末", "%1 的视频 第%2期"};
    const QString marked = QStringLiteral("<em class=\"keyword\">%1</em>").arg(keyword);
    const QString form = QString::fromUtf8(forms[index % forms.size()]);
    QString title = form;
    title.replace(QLatin1String("%1"), marked);
    return title.replace(QLatin1String("%2"), QString::number(index + 1));
}

QString CatalogueText::seasonTitle(qint64 seasonType, qint64 seasonID)
{
    static const QStringList words{S("星海"), S("长夜"), S("青石"), S("白鸟"), S("远山"), S("旧城"), S("风铃"), S("潮汐"), S("雪原"), S("灯火")};
    static const QStringList kinds{S("物语"), S("纪行"), S("之歌"), S("往事"), S("少年"), S("来信"), S("探险"), S("日记")};
    const quint64 h = mix(seasonID);
    QString title = words[h % words.size()] + kinds[(h >> 8) % kinds.size()];
    switch (seasonType) {
    case 2: return title + S("（电影）");
    case 3: return S("自然之境：") + title;
    case 7: return title + S(" 第%1季").arg(1 + (h >> 16) % 4);
    default: return title;
    }
}

} // namespace testsupport
