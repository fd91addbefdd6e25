#include "publish/PageTexts.h"

namespace {

// The updater's language, and its words: 本地版本 is what its label calls the client's version.
const PageTexts kSimplifiedChinese = {
    "zh-CN",
    "",
    "手动更新包下载",
    "每个手动更新包只把客户端升级一个版本。请从您的本地版本的下一个版本开始，按顺序逐个运行，"
    "不要跳过。",
    "我需要哪些更新包？",
    "您的本地版本",
    "更新程序显示的“本地版本”，例如 31.85 或 3185。",
    "查询",
    "在下表的“升级”一栏找到从您的本地版本开始的那一行，然后从它开始，按版本从低到高依次下载并运行"
    "每一个更新包。",
    "全部更新包（最新的在前）",
    "版本",
    "升级",
    "下载",
    "大小",
    "SHA-256",
    "签名",
    "字节",
    "未签名",
    "签名者：",
    "签名者未知：签名中没有签名者的证书",
    "时间戳：",
    "无时间戳：证书过期后签名即失效",
    "颁发机构的证书未包含在签名中",
    "本页由 patchkit 根据 releases.json 生成。",
    "更新历史已用各版本的发布目录逐步验证：每个更新包都把上一版本变成了下一版本。",
    "每个更新包都已检查，但更新历史未用发布目录验证。",
    "生成时间：{time}。",
    "从 {from} 升级到 {newest}：请按顺序运行以下 {count} 个更新包，共 {size}（{bytes} 字节）。",
    "您的本地版本已经是 {newest}，不需要更新。",
    "本页的更新包从 {oldest} 开始，无法从 {from} 升级。请重新下载最新客户端。",
    "{from} 比本页最新的版本 {newest} 还新：请核对您输入的版本。",
    "请输入更新程序显示的本地版本，例如 31.85 或 3185。",
};

const PageTexts kEnglish = {
    "en",
    " ",
    "Manual update packages",
    "Each manual update package brings the client exactly one version further. Start with the "
    "version after yours and run the packages one by one, in order, skipping none.",
    "Which packages do I need?",
    "Your local version",
    "The version the updater shows as the local version, e.g. 31.85 or 3185.",
    "Show",
    "Find the row whose step starts at your local version in the table below, then download and "
    "run every package from it upwards, in order of version.",
    "All packages (newest first)",
    "Version",
    "Step",
    "Download",
    "Size",
    "SHA-256",
    "Signature",
    "bytes",
    "unsigned",
    "Signer: ",
    "signer unknown: the signer's certificate is not in the signature",
    "Timestamp: ",
    "no timestamp: the signature counts as invalid once the certificate expires",
    "the authority's certificate is not included",
    "Made by patchkit from releases.json.",
    "The history was proven against the release folders: each package turns its release into the "
    "next.",
    "Every package was checked, but the history was not proven against release folders.",
    "Made {time}.",
    "From {from} to {newest}: run these {count} packages in this order, {size} in all ({bytes} "
    "bytes).",
    "Your local version is already {newest}: nothing to update.",
    "The packages here start at {oldest}; they cannot update {from}. Download the latest client "
    "instead.",
    "{from} is newer than the newest version here, {newest}: please check the version you typed.",
    "Type the local version the updater shows, e.g. 31.85 or 3185.",
};

} // namespace

const PageTexts& TextsOf(PageLanguage language) {
    return language == PageLanguage::English ? kEnglish : kSimplifiedChinese;
}
