#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes a station export in the community station database's JSON format
(/json/stations): COUNT stations with the fields and field lengths of the real
export, one in ten in China with Chinese names and provinces, a few broken.
The same COUNT always gives the same file.
Usage: bench/community_export.py COUNT OUTPUT"""
import json
import random
import sys
import uuid

PROVINCES = ["Beijing", "Shanghai", "Guangdong", "Zhejiang", "Jiangsu", "Sichuan", "Hubei",
             "Hunan", "Shandong", "Fujian", "Guangxi Zhuang Autonomous Region", "Inner Mongolia",
             "Xinjiang Uygur", "Heilongjiang", "Yunnan", "Shaanxi", "Chongqing", "Tianjin"]
COUNTRIES = [("US", "The United States Of America", "California"), ("DE", "Germany", "Bayern"),
             ("FR", "France", "Île-de-France"), ("GB", "The United Kingdom", "England"),
             ("JP", "Japan", "Tokyo"), ("BR", "Brazil", "São Paulo"), ("RU", "Russia", "Moscow"),
             ("IT", "Italy", "Lazio"), ("ES", "Spain", "Madrid"), ("IN", "India", "Delhi"),
             ("MX", "Mexico", "Jalisco"), ("AU", "Australia", "New South Wales")]
WORDS = ["Radio", "FM", "Classic", "Hits", "Jazz", "News", "Rock", "Country", "Talk", "Oldies",
         "Smooth", "Dance", "Public", "Community", "Music", "Live", "Gold", "Sport", "Pop", "Love"]
CHINESE = ["音乐", "新闻", "交通", "经典", "之声", "文艺", "都市", "故事", "戏曲", "生活", "广播",
           "电台", "频率", "综合", "私家车", "旅游"]
CITIES = ["北京", "上海", "广州", "深圳", "杭州", "南京", "成都", "武汉", "长沙", "济南", "福州",
          "南宁", "呼和浩特", "乌鲁木齐", "哈尔滨", "昆明", "西安", "重庆", "天津"]
TAGS = ["pop", "rock", "news", "talk", "jazz", "classical", "80s", "90s", "dance", "country",
        "chinese", "mandarin", "cantonese", "public radio", "oldies", "electronic"]


def station(rng, index):
    chinese = index % 10 == 0
    host = "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(6, 14)))
    path = "/" + "/".join(rng.choice(["live", "stream", "radio", "hls", "aac", "mp3", "listen"])
                          for _ in range(rng.randint(1, 3)))
    url = f"http{'s' if rng.random() < 0.6 else ''}://{host}.example.com:{rng.choice([80, 8000, 8080, 443])}{path}"
    if chinese:
        name = rng.choice(CITIES) + "".join(rng.choice(CHINESE) for _ in range(rng.randint(2, 4)))
        code, country, state = "CN", "China", rng.choice(PROVINCES)
        language, languagecodes = "chinese,mandarin", "zh"
    else:
        name = " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 5))) + f" {rng.randint(1, 999)}"
        code, country, state = rng.choice(COUNTRIES)
        language, languagecodes = "english", "en"
    when = f"2024-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d} {rng.randint(0, 23):02d}:{rng.randint(0, 59):02d}:{rng.randint(0, 59):02d}"
    return {
        "changeuuid": str(uuid.UUID(int=rng.getrandbits(128))),
        "stationuuid": str(uuid.UUID(int=rng.getrandbits(128))),
        "serveruuid": str(uuid.UUID(int=rng.getrandbits(128))) if rng.random() < 0.3 else None,
        "name": name,
        "url": url,
        "url_resolved": url + ("?type=.mp3" if rng.random() < 0.2 else ""),
        "homepage": f"https://www.{host}.example.com/",
        "favicon": f"https://www.{host}.example.com/favicon.ico" if rng.random() < 0.7 else "",
        "tags": ",".join(rng.sample(TAGS, rng.randint(0, 5))),
        "country": country,
        "countrycode": code,
        "iso_3166_2": None,
        "state": state,
        "language": language,
        "languagecodes": languagecodes,
        "votes": rng.randint(0, 5000),
        "lastchangetime": when,
        "lastchangetime_iso8601": when.replace(" ", "T") + "Z",
        "codec": rng.choice(["MP3", "AAC", "AAC+", "OGG", "FLAC"]),
        "bitrate": rng.choice([0, 64, 96, 128, 192, 256, 320]),
        "hls": 1 if "hls" in path else 0,
        "lastcheckok": 0 if rng.random() < 0.05 else 1,
        "lastchecktime": when,
        "lastchecktime_iso8601": when.replace(" ", "T") + "Z",
        "lastcheckoktime": when,
        "lastcheckoktime_iso8601": when.replace(" ", "T") + "Z",
        "lastlocalchecktime": when,
        "lastlocalchecktime_iso8601": when.replace(" ", "T") + "Z",
        "clicktimestamp": when,
        "clicktimestamp_iso8601": when.replace(" ", "T") + "Z",
        "clickcount": int(rng.paretovariate(1.2)) - 1,
        "clicktrend": rng.randint(-20, 20),
        "ssl_error": 0,
        "geo_lat": round(rng.uniform(-60, 70), 6) if rng.random() < 0.4 else None,
        "geo_long": round(rng.uniform(-180, 180), 6) if rng.random() < 0.4 else None,
        "geo_distance": None,
        "has_extended_info": rng.random() < 0.1,
    }


def main():
    count, output = int(sys.argv[1]), sys.argv[2]
    rng = random.Random(count)
    with open(output, "w", encoding="utf-8") as out:
        json.dump([station(rng, i) for i in range(count)], out, ensure_ascii=False, indent=2)


if __name__ == "__main__":
    main()
